#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// Keeps dux-host's promises on time while its GUI thread may be held for seconds inside a request to
// the module (a reply time-out, the erase): it takes SIGINT and SIGTERM and watches the --timeout on a
// thread of its own. Each is first handed to the event loop, where the run cancels through the
// plug-in; if the run has not ended within its bound, the watchdog tells the result itself and ends
// the process. A second SIGINT or SIGTERM ends it at once.
class RunWatchdog
{
public:
    enum class Event { Interrupt, Deadline };
    // Called on the watchdog thread; queue the work to the event loop.
    using EventHandler = std::function<void(Event)>;
    // Called on the watchdog thread when a bound has passed: tells the result, returns the exit code.
    using HardEnd = std::function<int(Event)>;

    // The signals must be blocked in every thread already (SignalNotifier-style blocking in main()).
    RunWatchdog(EventHandler onEvent, HardEnd hardEnd);
    ~RunWatchdog();

    // Blocks SIGINT and SIGTERM in the calling thread and in the threads it starts from now on.
    static void blockSignals();

    void setDeadline(std::chrono::milliseconds fromNow);
    // The run has told its result: the process ends within `grace`, if it has not ended by then.
    void ended(std::chrono::milliseconds grace, int exitCode);
    // How long an event may take on the event loop before the hard end.
    void setBounds(std::chrono::milliseconds afterInterrupt, std::chrono::milliseconds afterDeadline);

private:
    using Clock = std::chrono::steady_clock;
    void run();
    void wake();
    // Waits up to `timeoutMs` (-1: for ever) for SIGINT, SIGTERM or a wake(); true when a signal came.
    bool waitForSignal(int timeoutMs);
    // A bound has passed: tells the result unless the run did, and ends the process. With m_mutex held.
    [[noreturn]] void endWithResult();
    // A second signal: ends the process at once. With m_mutex held.
    [[noreturn]] void quitAtOnce();

    EventHandler m_onEvent;
    HardEnd m_hardEnd;
    int m_signals = -1;
    int m_wakeup = -1;
    std::mutex m_mutex;
    Clock::time_point m_deadline = Clock::time_point::max();
    Clock::time_point m_hardEndAt = Clock::time_point::max();
    Event m_pending = Event::Deadline;
    int m_endedExitCode = -1;
    bool m_interrupted = false;
    bool m_stop = false;
    std::chrono::milliseconds m_afterInterrupt{0};
    std::chrono::milliseconds m_afterDeadline{0};
    std::thread m_thread;
};
