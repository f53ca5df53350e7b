#include "progressstate.h"

#include "updatephase.h"

void ProgressState::start()
{
    m_clock.start();
}

void ProgressState::reachPhase(const QString& phase)
{
    m_phase = phase;
    m_done = 0;
    m_total = 0;
    if (phase == UpdatePhases::name(UpdatePhase::Write))
        m_writeStartMs = m_clock.elapsed();
}

void ProgressState::progress(qint64 bytesDone, qint64 bytesTotal)
{
    m_done = bytesDone;
    m_total = bytesTotal;
}
