#include "updateoutcome.h"

#include "updatephase.h"

#include <QMutexLocker>

UpdateOutcome::UpdateOutcome(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<UpdateOutcome::Report>("UpdateOutcome::Report");
}

void UpdateOutcome::begin()
{
    QMutexLocker lock(&m_mutex);
    m_clock.start();
    m_startedUtc = QDateTime::currentDateTimeUtc();
    m_subject = Subject();
    m_phase.clear();
    m_status.clear();
    m_bytesWritten = 0;
    m_window = 0;
    m_skipped = false;
    m_resumed = false;
    m_differingPages.clear();
    m_readBytes.clear();
    m_readBase = 0;
    m_running = true;
}

void UpdateOutcome::describe(const Subject& subject)
{
    QMutexLocker lock(&m_mutex);
    m_subject = subject;
}

void UpdateOutcome::reachPhase(UpdatePhase phase)
{
    const QString name = UpdatePhases::name(phase);
    {
        QMutexLocker lock(&m_mutex);
        m_phase = name;
    }
    emit phaseChanged(name);
}

void UpdateOutcome::progress(qint64 bytesDone, qint64 bytesTotal)
{
    {
        QMutexLocker lock(&m_mutex);
        m_bytesWritten = qMax(m_bytesWritten, bytesDone);
    }
    emit progressed(bytesDone, bytesTotal);
}

void UpdateOutcome::noteStatus(const QString& status)
{
    QMutexLocker lock(&m_mutex);
    m_status = status;
}

QString UpdateOutcome::lastStatus() const
{
    QMutexLocker lock(&m_mutex);
    return m_status;
}

void UpdateOutcome::noteWindow(int window)
{
    QMutexLocker lock(&m_mutex);
    m_window = window;
}

void UpdateOutcome::noteSkipped()
{
    QMutexLocker lock(&m_mutex);
    m_skipped = true;
}

void UpdateOutcome::noteResumed()
{
    QMutexLocker lock(&m_mutex);
    m_resumed = true;
}

void UpdateOutcome::noteDifferingPages(const QVector<quint32>& pages)
{
    QMutexLocker lock(&m_mutex);
    m_differingPages = pages;
}

void UpdateOutcome::noteReadBack(quint32 base, const QByteArray& bytes)
{
    QMutexLocker lock(&m_mutex);
    m_readBase = base;
    m_readBytes = bytes;
}

UpdateOutcome::Report UpdateOutcome::reportSoFar() const
{
    Report report;
    report.phase = m_phase;
    report.skipped = m_skipped;
    report.resumed = m_resumed;
    report.differingPages = m_differingPages;
    report.readBytes = m_readBytes;
    report.readBase = m_readBase;
    report.bytes = m_bytesWritten;
    report.window = m_window;
    report.durationMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    report.startedUtc = m_startedUtc;
    report.subject = m_subject;
    report.fileName = m_subject.fileName;
    report.fileIdentifier = m_subject.fileIdentifier;
    report.firmwareBefore = m_subject.firmwareBefore;
    return report;
}

UpdateOutcome::Report UpdateOutcome::progressReport() const
{
    QMutexLocker lock(&m_mutex);
    Report report = reportSoFar();
    report.interrupted = true;
    report.failureText = m_status;
    report.moduleKey = m_subject.moduleKey;
    report.result = report.verdict();
    return report;
}

void UpdateOutcome::finish(bool success, const QString& failureText, const QString& moduleKey,
                           const QString& firmwareVersion, bool interrupted)
{
    Report report;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_running)
            return;
        m_running = false;
        report = reportSoFar();
    }
    report.success = success;
    report.failureText = success ? QString() : failureText;
    report.moduleKey = moduleKey;
    report.firmwareAfter = firmwareVersion;
    report.interrupted = interrupted;
    report.result = report.verdict();
    emit finished(report);
}

EndedUpdate::Result UpdateOutcome::Report::verdict() const
{
    if (success) {
        if (subject.verifyOnly)
            return differingPages.isEmpty() ? Result::Verified : Result::Differs;
        return subject.readBack ? Result::ReadBack
             : skipped          ? Result::Skipped
             : resumed          ? Result::Resumed
                                : Result::Updated;
    }
    // No phase reached: refused, or cancelled, before anything was sent to the module.
    if (phase.isEmpty())
        return Result::NotStarted;
    return interrupted ? Result::Interrupted : Result::Failed;
}
