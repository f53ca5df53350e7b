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
    m_phase.clear();
    m_status.clear();
    m_bytesWritten = 0;
    m_running = true;
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

void UpdateOutcome::finish(bool success, const QString& failureText, const QString& moduleKey,
                           const QString& firmwareVersion)
{
    Report report;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_running)
            return;
        m_running = false;
        report.phase = m_phase;
        report.bytesWritten = m_bytesWritten;
        report.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    }
    report.success = success;
    report.failureText = success ? QString() : failureText;
    report.moduleKey = moduleKey;
    report.firmwareVersion = firmwareVersion;
    emit finished(report);
}
