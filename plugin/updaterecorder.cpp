#include "updaterecorder.h"

#include "linkkindrules.h"
#include "recordkeeper.h"
#include "recordwriter.h"

namespace {

// What a record written while the update runs says of it, until the update ends.
constexpr const char* NotFinishedText = "not finished";

// Empty while no link was taken (a refusal before the module's link is known).
QString linkKindName(int kind)
{
    return kind == 0 ? QString() : QString::fromLatin1(LinkKindRules::forKind(kind).name).toLower();
}

}

UpdateRecorder::UpdateRecorder(UpdateOutcome* outcome, QObject* parent)
    : QObject(parent)
    , m_outcome(outcome)
    , m_writer(RecordWriter::shared(RecordKeeper::configuredLocation(), RecordKeeper::localFile()))
{
    setObjectName(QLatin1String(ObjectName));
    // Direct: the worker thread reports phases while the GUI thread may be held by one of its requests.
    connect(outcome, &UpdateOutcome::phaseChanged, this,
            [this, outcome] { recordPhase(outcome->progressReport()); }, Qt::DirectConnection);
    connect(outcome, &UpdateOutcome::finished, this, &UpdateRecorder::recordEnd);
    connect(m_writer.get(), &RecordWriter::said, this, [this](const QString& id, const QString& text) {
        QMutexLocker lock(&m_runMutex);
        const bool ours = m_ids.contains(id);
        lock.unlock();
        if (ours)
            emit unrecorded(text);
    });
}

void UpdateRecorder::setCancelReason(const QString& reason, bool interrupted)
{
    const UpdateOutcome::Report sofar = m_outcome->progressReport();
    QMutexLocker lock(&m_runMutex);
    m_cancelReason = reason;
    m_cancelInterrupted = interrupted;
    // Said at once: the update may not answer the cancel before the process ends.
    if (!m_runId.isEmpty())
        writeRun(sofar, true);
}

void UpdateRecorder::setUnit(const QString& serialNumber, const QString& fixture, const QString& station,
                             const QString& operatorName)
{
    QMutexLocker lock(&m_runMutex);
    m_serialNumber = serialNumber;
    m_fixture = fixture;
    m_station = station;
    m_operatorName = operatorName;
}

bool UpdateRecorder::flush(int waitMs)
{
    return m_writer->flush(waitMs);
}

void UpdateRecorder::recordPhase(UpdateOutcome::Report report)
{
    // Kept as it stands in case the process never ends the update: not a failure of the last step.
    report.failureText = QLatin1String(NotFinishedText);
    QMutexLocker lock(&m_runMutex);
    writeRun(report, false);
}

void UpdateRecorder::recordEnd(const UpdateOutcome::Report& report)
{
    QMutexLocker lock(&m_runMutex);
    writeRun(report, true);
    m_runId.clear();
    m_cancelReason.clear();
}

void UpdateRecorder::writeRun(UpdateOutcome::Report report, bool final)
{
    // A verify or a read-back writes nothing to the module: there is no update to record.
    if (report.subject.verifyOnly || report.subject.readBack)
        return;
    // The host's reason replaces the plug-in's cancel text, and its verdict whether that was a fault.
    if (!m_cancelReason.isEmpty() && !report.success) {
        report.failureText = m_cancelReason;
        report.interrupted = m_cancelInterrupted;
        report.result = report.verdict();
    }
    UpdateRecord record = recordOf(report, m_runId);
    record.serialNumber = m_serialNumber;
    record.fixture = m_fixture;
    record.setStation(m_station, m_operatorName);
    m_runId = record.id;
    m_ids.insert(record.id);
    m_writer->write(record, final);
}

UpdateRecord UpdateRecorder::recordOf(const UpdateOutcome::Report& report, const QString& id)
{
    UpdateRecord record = RecordWriter::newRecord();
    static_cast<EndedUpdate&>(record) = report;
    if (!id.isEmpty())
        record.id = id;
    if (!record.startedUtc.isValid())
        record.startedUtc = QDateTime::currentDateTimeUtc().addMSecs(-report.durationMs);
    const UpdateOutcome::Subject& subject = report.subject;
    record.linkKind = linkKindName(subject.linkKind);
    if (!subject.fileName.isEmpty()) {
        record.fileBytes = subject.fileBytes;
        record.fileChecksum = subject.fileChecksum;
    }
    return record;
}
