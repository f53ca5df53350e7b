#include "nestedreplywait.h"

#include <chrono>
#include <limits>

namespace {
// The waits open on this thread, innermost first. Per thread, as the nesting is the thread's own stack:
// every link waiting on it takes part, whichever tool or handler made the request.
thread_local NestedReplyWait* innermostWait = nullptr;
}

NestedReplyWait::NestedReplyWait(qint64 dueNs, qint64 holdEndNs)
    : m_dueNs(dueNs)
    , m_holdEndNs(holdEndNs)
    , m_outer(innermostWait)
{
    innermostWait = this;
}

NestedReplyWait::~NestedReplyWait()
{
    innermostWait = m_outer;
}

NestedReplyWait::Turn NestedReplyWait::turn(qint64 nowNs)
{
    Turn holding{false, std::numeric_limits<qint64>::max()};
    Turn running{true, std::numeric_limits<qint64>::max()};
    for (const NestedReplyWait* wait = innermostWait; wait; wait = wait->m_outer) {
        if (nowNs >= wait->m_dueNs && nowNs < wait->m_holdEndNs)
            holding.untilNs = qMin(holding.untilNs, wait->m_holdEndNs);
        else if (nowNs < wait->m_dueNs)
            running.untilNs = qMin(running.untilNs, wait->m_dueNs);
    }
    return holding.untilNs != std::numeric_limits<qint64>::max() ? holding : running;
}

qint64 NestedReplyWait::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
