#include "timerprobe.h"

namespace {
constexpr double NsPerMs = 1e6;
}

TimerProbe::TimerProbe(std::function<bool()> counts)
    : m_counts(std::move(counts))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { fired(); });
    arm();
}

std::vector<double> TimerProbe::take()
{
    std::vector<double> lateness;
    lateness.swap(m_latenessMs);
    return lateness;
}

void TimerProbe::arm()
{
    m_armed.start();
    m_timer.start(TimerMs);
}

void TimerProbe::fired()
{
    if (m_counts())
        m_latenessMs.push_back(double(m_armed.nsecsElapsed()) / NsPerMs - TimerMs);
    arm();
}
