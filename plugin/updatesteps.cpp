#include "updatesteps.h"

using State = UpdateSteps::State;
using Event = UpdateSteps::Event;

namespace {
bool isEntered(State state)
{
    return state == State::Entered || state == State::EnteredStarting || state == State::EnteredRunning
           || state == State::Reconnecting;
}

// Where a call of the update leads: from a state before the bootloader entry, or from one after it.
State begunOrEntered(State from, State begun, State entered)
{
    if (from == State::Detached)
        return from;
    return isEntered(from) ? entered : begun;
}
}

State UpdateSteps::next(State from, Event event)
{
    switch (event) {
    case Event::WorkerMade:
        return from == State::Detached ? State::Idle : from;
    case Event::Refused:
        return begunOrEntered(from, State::Refusing, from);
    case Event::EntrySent:
        return begunOrEntered(from, State::Entered, from);
    case Event::StartScheduled:
        return begunOrEntered(from, State::Starting, State::EnteredStarting);
    case Event::WorkerStarted:
        if (from == State::Starting)
            return State::Running;
        return from == State::EnteredStarting ? State::EnteredRunning : from;
    case Event::RanWellAway:
        return from == State::Running || from == State::EnteredRunning ? State::Reconnecting : from;
    case Event::Ended:
        return from == State::Detached ? from : State::Idle;
    }
    return from;
}

bool UpdateSteps::entered() const
{
    return isEntered(m_state);
}

bool UpdateSteps::underWay() const
{
    return m_state != State::Detached && m_state != State::Idle && m_state != State::Reconnecting;
}

bool UpdateSteps::cancelEnds() const
{
    // A running worker reports its own end.
    return isEntered(m_state) || m_state == State::Starting || m_state == State::Refusing;
}
