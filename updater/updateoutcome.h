#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>

enum class UpdatePhase;

// Tells listeners how each update goes and how it ended, so that they need not read the history.
// The worker thread reports phases and progress; the widget's completion reports the end.
class UpdateOutcome : public QObject
{
    Q_OBJECT
public:
    struct Report
    {
        bool success = false;
        QString failureText;
        // The name of the last phase reached (UpdatePhases::name); empty before the first.
        QString phase;
        qint64 bytesWritten = 0;
        qint64 elapsedMs = 0;
        QString moduleKey;
        // What the completion read back; empty when it could not.
        QString firmwareVersion;
    };

    explicit UpdateOutcome(QObject* parent = nullptr);

    // An update starts: forgets the last one and starts its clock.
    void begin();
    // Called from the worker thread as the run goes on.
    void reachPhase(UpdatePhase phase);
    void progress(qint64 bytesDone, qint64 bytesTotal);
    // The latest short status of the run; a failure's reason is the one it ended with.
    void noteStatus(const QString& status);
    // Ends the update; reports it once, even when both Cancel and the worker end it.
    void finish(bool success, const QString& failureText, const QString& moduleKey, const QString& firmwareVersion);
    // The status noted last, which names the reason when a run fails.
    QString lastStatus() const;

signals:
    // The phase by its name.
    void phaseChanged(QString phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    void finished(UpdateOutcome::Report report);

private:
    mutable QMutex m_mutex;
    QElapsedTimer m_clock;
    QString m_phase;
    QString m_status;
    qint64 m_bytesWritten = 0;
    bool m_running = false;
};

Q_DECLARE_METATYPE(UpdateOutcome::Report)
