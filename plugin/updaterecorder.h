#pragma once

#include "updateoutcome.h"
#include "updaterecord.h"

#include <QMutex>
#include <QObject>
#include <QSet>
#include <memory>

class RecordWriter;

// Turns each update's outcome into a record of it and hands it to the records: who updated which
// module, where, with which file, and how it ended. Beside the outcome, never in the update's way.
// From the first phase on, each phase reached replaces the run's record with one that says it was
// interrupted there, so that a process that ends before the update does leaves that behind.
class UpdateRecorder : public QObject
{
    Q_OBJECT
public:
    // What a host looks the recorder up by.
    static constexpr const char* ObjectName = "updateRecorder";

    // Records the updates `outcome` reports, to where RecordKeeper::configuredLocation() says.
    UpdateRecorder(UpdateOutcome* outcome, QObject* parent);

    // A host that gives up on the update under way tells why before it cancels: the record keeps its
    // reason, and `interrupted` (stopped by the host) rather than failed (a time-out, say), instead of
    // the plug-in's cancel text.
    Q_INVOKABLE void setCancelReason(const QString& reason, bool interrupted);
    // A station tells which unit the next updates are of, in which fixture, at which station and by whom:
    // the records carry them. Empty station or operator: the host and user names, as without a station.
    Q_INVOKABLE void setUnit(const QString& serialNumber, const QString& fixture, const QString& station,
                             const QString& operatorName);
    // Waits up to `waitMs` for the records handed over: for a host about to end its process at once.
    Q_INVOKABLE bool flush(int waitMs);

    // The record `id` (empty: a new one) of an update, with this station, operator and tool.
    static UpdateRecord recordOf(const UpdateOutcome::Report& report, const QString& id);

signals:
    // A record that could not be kept, or that waits for the server.
    void unrecorded(QString text);

private:
    // Called in the thread that reports the phase.
    void recordPhase(UpdateOutcome::Report report);
    void recordEnd(const UpdateOutcome::Report& report);
    // Writes the record of the update under way, with m_runMutex held.
    // `final`: the update ended, or its host tells why it is cut short.
    void writeRun(UpdateOutcome::Report report, bool final);

    UpdateOutcome* m_outcome;
    // Shared with every other recorder of these records: one writer's thread in the process.
    std::shared_ptr<RecordWriter> m_writer;
    // The record of the update under way, and why a host cancels it; empty between updates.
    QMutex m_runMutex;
    QString m_runId;
    QString m_cancelReason;
    bool m_cancelInterrupted = false;
    // What setUnit() was told, stamped on each record.
    QString m_serialNumber;
    QString m_fixture;
    QString m_station;
    QString m_operatorName;
    // The records this recorder handed over: what the shared writer says of the others' is not ours.
    QSet<QString> m_ids;
};
