#include "timedsteps.h"

#include "timescale.h"

#include <QTimer>

void TimedSteps::after(int delayMs, const std::function<void()>& step)
{
    if (!m_pending)
        m_pending = new QObject(this);
    QTimer::singleShot(TimeScale::scaledMs(delayMs), m_pending, step);
}

void TimedSteps::drop()
{
    delete m_pending;
    m_pending = nullptr;
}
