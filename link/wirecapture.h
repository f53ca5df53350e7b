#pragma once

#include "capturerecord.h"

#include <QMutex>
#include <QString>
#include <atomic>

struct pcap;
struct pcap_dumper;

// Writes every byte the links send and receive, and their ports' opening, closing and data rates and
// the modules found on them, to a pcap file of the user link type (docs/capture.md). The links call
// it where bytes cross; closed (the default) it keeps nothing and costs one check.
class WireCapture
{
public:
    // DLT_USER0: the first of the link types left to users.
    static constexpr int LinkType = 147;
    // A frame is at most a few dozen bytes, and a read at most a few kilobytes: no packet is cut.
    static constexpr int SnapshotBytes = 65535;

    WireCapture() = default;
    ~WireCapture();
    WireCapture(const WireCapture&) = delete;
    WireCapture& operator=(const WireCapture&) = delete;

    // Starts a new file at `path`, replacing what is there; false (and errorString()) when it cannot.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return m_recording; }
    QString path() const { return m_path; }
    QString errorString() const { return m_errorString; }

    void noteSent(const QString& port, const QByteArray& bytes);
    void noteReceived(const QString& port, const QByteArray& bytes);
    void noteOpened(const QString& port, int dataRate);
    void noteClosed(const QString& port);
    void noteDataRate(const QString& port, int dataRate);
    void noteModule(const QString& port, const QString& key);

private:
    void write(CaptureRecord::Event event, CaptureRecord::Direction direction, const QString& port,
               const QByteArray& payload);

    QMutex m_mutex;
    // Read without the lock, so that a closed capture costs the links one load.
    std::atomic<bool> m_recording{false};
    pcap* m_pcap = nullptr;
    pcap_dumper* m_dumper = nullptr;
    QString m_path;
    QString m_errorString;
};
