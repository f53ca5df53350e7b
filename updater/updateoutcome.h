#pragma once

#include "endedupdate.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

enum class UpdatePhase;

// Tells listeners how each update goes and how it ended, so that they need not read the history.
// The worker thread reports phases and progress; the widget's completion reports the end.
class UpdateOutcome : public QObject
{
    Q_OBJECT
public:
    // What an update is about, as the tool knows it when the update starts: the file and the module's
    // firmware before it.
    struct Subject
    {
        QString moduleKey;
        QString fileName;
        QString fileIdentifier;
        quint32 fileChecksum = 0;
        qint64 fileBytes = 0;
        int linkKind = 0;
        QString firmwareBefore;
        // A verify: the module's flash is compared with the file, not written.
        bool verifyOnly = false;
        // A read-back: the module's flash is read, not written.
        bool readBack = false;
    };

    // The ended update with what the plug-in's run knows besides: how it ended in its own terms (from
    // which its result follows, verdict()) and what it was about.
    struct Report : EndedUpdate
    {
        bool success = false;
        Subject subject;
        // Ended by a cancel rather than by a fault.
        bool interrupted = false;
        // The module already held the file and was restarted without an erase.
        bool skipped = false;
        // The flash held part of the file: the write went on where it ended, without an erase.
        bool resumed = false;

        // The result these say; the plug-in's only rule for it.
        Result verdict() const;
    };

    explicit UpdateOutcome(QObject* parent = nullptr);

    // An update starts: forgets the last one and starts its clock.
    void begin();
    // Tells what the update that began is about; kept until the next begin().
    void describe(const Subject& subject);
    // Called from the worker thread as the run goes on.
    void reachPhase(UpdatePhase phase);
    void progress(qint64 bytesDone, qint64 bytesTotal);
    // The latest short status of the run; a failure's reason is the one it ended with.
    void noteStatus(const QString& status);
    // The window of the write phase, noted again when it falls back: the last one noted is the one in
    // force at the write's end.
    void noteWindow(int window);
    // The module already holds the file: the run restarts it without writing.
    void noteSkipped();
    // The write goes on where an earlier one ended, without an erase.
    void noteResumed();
    // A verify compared the module's page sums with the file's: those of `pages` (flash addresses) differ.
    void noteDifferingPages(const QVector<quint32>& pages);
    // A read-back read `bytes` of the flash from `base` on.
    void noteReadBack(quint32 base, const QByteArray& bytes);
    // Ends the update; reports it once, even when both Cancel and the worker end it.
    void finish(bool success, const QString& failureText, const QString& moduleKey, const QString& firmwareVersion,
                bool interrupted = false);
    // The status noted last, which names the reason when a run fails.
    QString lastStatus() const;
    // The update under way as it stands, as if it ended now by a cancel: what a record keeps of a run
    // whose process may not live to finish it.
    Report progressReport() const;

signals:
    // The phase by its name.
    void phaseChanged(QString phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    void finished(UpdateOutcome::Report report);

private:
    // With m_mutex held.
    Report reportSoFar() const;

    mutable QMutex m_mutex;
    QElapsedTimer m_clock;
    QDateTime m_startedUtc;
    Subject m_subject;
    QString m_phase;
    QString m_status;
    qint64 m_bytesWritten = 0;
    int m_window = 0;
    bool m_skipped = false;
    bool m_resumed = false;
    QVector<quint32> m_differingPages;
    QByteArray m_readBytes;
    quint32 m_readBase = 0;
    bool m_running = false;
};

Q_DECLARE_METATYPE(UpdateOutcome::Report)
