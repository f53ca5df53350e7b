#include "progressstate.h"

#include "updateeta.h"

void ProgressState::start()
{
    m_clock.start();
}

void ProgressState::reachPhase(const QString& phase)
{
    m_phase = phase;
    m_done = 0;
    m_total = 0;
    m_phaseStartMs = m_clock.elapsed();
}

void ProgressState::progress(qint64 bytesDone, qint64 bytesTotal)
{
    m_done = bytesDone;
    m_total = bytesTotal;
}

qint64 ProgressState::remainingMs(qint64 lineWriteMs) const
{
    return UpdateEta::remainingMs(m_phase, m_done, m_total, m_clock.elapsed() - m_phaseStartMs, lineWriteMs);
}
