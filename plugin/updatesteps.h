#pragma once

// The steps of one update and the one place that moves between them. The session asks it where the
// update stands; timers, links and signals stay the session's.
class UpdateSteps
{
public:
    enum class State {
        // No worker yet.
        Detached,
        Idle,
        // The first call found a reason not to go on; the failed end follows from the event loop.
        Refusing,
        // The module was sent to its bootloader; a re-call or a port change goes on.
        Entered,
        // The module is in its bootloader and the worker starts after a pause; "Entered": it was sent there.
        Starting,
        EnteredStarting,
        Running,
        EnteredRunning,
        // The run ended well and the module restarts under a new port; its return ends the update.
        Reconnecting,
    };
    enum class Event {
        WorkerMade,
        Refused,
        EntrySent,
        // The module answered from its bootloader: its worker's start is scheduled.
        StartScheduled,
        WorkerStarted,
        // The run ended well on a link whose module comes back under a new port.
        RanWellAway,
        // The update is over: the completion ran to its end, or the restarted module is back in its firmware.
        Ended,
    };

    // The state `event` moves `from` into; an event that does not apply leaves it where it is.
    static State next(State from, Event event);

    void move(Event event) { m_state = next(m_state, event); }
    State state() const { return m_state; }
    // The module was sent to its bootloader in this update and has not come back; a new port then is its.
    bool entered() const;
    // From the update's first call to its completion, it holds the module and its link.
    bool underWay() const;
    // Cancel ends the update itself: no worker runs that would report the end.
    bool cancelEnds() const;

private:
    State m_state = State::Detached;
};
