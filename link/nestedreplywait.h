#pragma once

#include <QtGlobal>

// One request's wait for its reply, on a thread whose requests of several links wait nested in each
// other's event loops. A nested wait cannot return before the waits opened inside it, so a wait whose
// reply is due holds every newer request that goes out meanwhile; tells each wait whether the thread's
// events may run now (letting newer requests out) or it must wait for its own reply alone.
class NestedReplyWait
{
public:
    // What a wait may do now, and until when (a steady-clock time in ns) that holds.
    struct Turn
    {
        bool eventsMayRun = true;
        qint64 untilNs = 0;
    };

    // Opens a wait on this thread for a reply that cannot come before `dueNs`; from then until
    // `holdEndNs` newer requests are held back. Closes when destroyed.
    NestedReplyWait(qint64 dueNs, qint64 holdEndNs);
    ~NestedReplyWait();
    NestedReplyWait(const NestedReplyWait&) = delete;
    NestedReplyWait& operator=(const NestedReplyWait&) = delete;

    // Events may run while no open wait on this thread is between its due time and its hold's end.
    static Turn turn(qint64 nowNs);
    static qint64 nowNs();

private:
    qint64 m_dueNs;
    qint64 m_holdEndNs;
    NestedReplyWait* m_outer;
};
