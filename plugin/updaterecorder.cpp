#include "updaterecorder.h"

#include "linkkindrules.h"
#include "recordkeeper.h"
#include "recordwriter.h"

#include <QSysInfo>
#include <QUuid>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// A module key is PORT/TYPE/ADDRESS.
enum KeyPart { PortPart, TypePart, AddressPart };

// Empty while no link was taken (a refusal before the module's link is known).
QString linkKindName(int kind)
{
    return kind == 0 ? QString() : QString::fromLatin1(LinkKindRules::forKind(kind).name).toLower();
}

QString lookUpOperatorName()
{
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
#ifdef Q_OS_UNIX
    // Services and containers often run without a login environment.
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    return QString();
}

// Looked up once: each phase of an update makes a record, on the worker's thread.
const QString& operatorName()
{
    static const QString name = lookUpOperatorName();
    return name;
}

const QString& stationName()
{
    static const QString name = QSysInfo::machineHostName();
    return name;
}

}

UpdateRecorder::UpdateRecorder(UpdateOutcome* outcome, QObject* parent)
    : QObject(parent)
    , m_writer(new RecordWriter(RecordKeeper::configuredLocation(), RecordKeeper::localFile(), this))
{
    // Direct: the worker thread reports phases while the GUI thread may be held by one of its requests.
    connect(outcome, &UpdateOutcome::phaseChanged, this,
            [this, outcome] { recordPhase(outcome->progressReport()); }, Qt::DirectConnection);
    connect(outcome, &UpdateOutcome::finished, this, &UpdateRecorder::recordEnd);
    connect(m_writer, &RecordWriter::said, this, &UpdateRecorder::unrecorded);
}

void UpdateRecorder::recordPhase(const UpdateOutcome::Report& report)
{
    QMutexLocker lock(&m_runMutex);
    if (m_runId.isEmpty())
        m_runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_writer->write(recordOf(report, m_runId));
}

void UpdateRecorder::recordEnd(const UpdateOutcome::Report& report)
{
    QMutexLocker lock(&m_runMutex);
    const QString id = m_runId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : m_runId;
    m_runId.clear();
    m_writer->write(recordOf(report, id));
}

UpdateRecord::Result UpdateRecorder::resultOf(const UpdateOutcome::Report& report)
{
    if (report.success)
        return UpdateRecord::Result::Updated;
    // No phase reached: refused, or cancelled, before anything was sent to the module.
    if (report.phase.isEmpty())
        return UpdateRecord::Result::NotStarted;
    return report.interrupted ? UpdateRecord::Result::Interrupted : UpdateRecord::Result::Failed;
}

UpdateRecord UpdateRecorder::recordOf(const UpdateOutcome::Report& report, const QString& id)
{
    UpdateRecord record;
    record.id = id;
    record.startedUtc = report.startedUtc.isValid() ? report.startedUtc
                                                    : QDateTime::currentDateTimeUtc().addMSecs(-report.elapsedMs);
    record.durationMs = report.elapsedMs;
    record.toolVersion = RecordWriter::toolVersion();
    record.station = stationName();
    record.operatorName = operatorName();
    record.moduleKey = report.moduleKey;
    const QStringList parts = report.moduleKey.split(QLatin1Char('/'));
    record.port = parts.value(PortPart);
    record.moduleType = parts.value(TypePart);
    record.address = parts.value(AddressPart);
    const UpdateOutcome::Subject& subject = report.subject;
    record.linkKind = linkKindName(subject.linkKind);
    record.firmwareBefore = subject.firmwareBefore;
    record.firmwareAfter = report.firmwareVersion;
    record.fileName = subject.fileName;
    record.fileIdentifier = subject.fileIdentifier;
    if (!subject.fileName.isEmpty()) {
        record.fileBytes = subject.fileBytes;
        record.fileChecksum = subject.fileChecksum;
    }
    record.result = resultOf(report);
    record.phase = report.phase;
    record.failureText = report.failureText;
    return record;
}
