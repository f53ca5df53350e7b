#pragma once

#include "capturereplay.h"
#include "duxlframedecoder.h"
#include "ptyport.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <memory>

class QSocketNotifier;

// Serves the module of a wire capture on a pseudo-terminal (dux-sim --replay): every request is
// answered as CaptureReplay says, at the delay the capture recorded or at once. After the first
// request that departs from the capture the module is silent.
class ReplayServer : public QObject
{
    Q_OBJECT
public:
    explicit ReplayServer(const CaptureReplay& replay, QObject* parent = nullptr);
    ~ReplayServer() override;

    // Replies go out at once instead of at their recorded delay.
    void setUnpaced(bool unpaced);
    // Where the port is announced for the host (see PortListFile); empty: nowhere.
    void setPortListFile(const QString& path);
    // Opens the port, named as the captured one; false (and errorString()) when it cannot.
    bool start();
    void stop();
    QString devicePath() const { return m_port.devicePath(); }
    QString errorString() const { return m_errorString; }
    const CaptureReplay& replay() const { return m_replay; }

signals:
    // The first request that departs from the capture, with the position and the expected request.
    void departed(const QString& message);
    void failed(const QString& message);

private:
    void readRequests();
    void sendDue();
    // Arms the timer file for the first reply due, or disarms it.
    void armDueTimer();
    // Writes `bytes` now; false (and failed()) when the port is gone.
    bool transmit(const QByteArray& bytes);

    CaptureReplay m_replay;
    PtyPort m_port;
    std::unique_ptr<QSocketNotifier> m_notifier;
    DuxlFrameDecoder m_decoder;
    bool m_unpaced = false;
    QString m_portListFile;
    QString m_errorString;
    // Replies waiting for their time, in the capture's order: due time (ns of the monotonic clock), frame.
    QList<QPair<qint64, QByteArray>> m_due;
    // Wakes the server when the first reply is due. A timer file, not a QTimer: a QTimer counts whole
    // milliseconds, and rounding each delay up made a paced replay of 64 KiB 13 % slower than its capture.
    int m_dueTimer = -1;
    std::unique_ptr<QSocketNotifier> m_dueNotifier;
};
