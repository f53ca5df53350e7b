#include "runwatchdog.h"

#include "console.h"

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int InterruptedExitCode = 3;
constexpr char QuitAtOnceText[] = "\ndux-host: interrupted again: quitting at once\n";

sigset_t watchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// What poll() waits for until `next`: -1 for ever; rounded up, lest it wake a moment early and spin.
int pollTimeoutMs(std::chrono::steady_clock::time_point next, std::chrono::steady_clock::time_point now)
{
    if (next == std::chrono::steady_clock::time_point::max())
        return -1;
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
}

}

RunWatchdog::RunWatchdog(EventHandler onEvent, HardEnd hardEnd)
    : m_onEvent(std::move(onEvent))
    , m_hardEnd(std::move(hardEnd))
{
    const sigset_t set = watchedSignals();
    m_signals = signalfd(-1, &set, SFD_CLOEXEC);
    m_wakeup = eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
}

RunWatchdog::~RunWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    wake();
    m_thread.join();
    ::close(m_signals);
    ::close(m_wakeup);
}

void RunWatchdog::blockSignals()
{
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void RunWatchdog::setBounds(std::chrono::milliseconds afterInterrupt, std::chrono::milliseconds afterDeadline)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_afterInterrupt = afterInterrupt;
    m_afterDeadline = afterDeadline;
}

void RunWatchdog::setDeadline(std::chrono::milliseconds fromNow)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deadline = Clock::now() + fromNow;
    }
    wake();
}

void RunWatchdog::ended(std::chrono::milliseconds grace, int exitCode)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endedExitCode = exitCode;
        m_deadline = Clock::time_point::max();
        m_hardEndAt = std::min(m_hardEndAt, Clock::now() + grace);
    }
    wake();
}

void RunWatchdog::wake()
{
    const uint64_t one = 1;
    if (::write(m_wakeup, &one, sizeof one) != sizeof one)
        std::perror("dux-host: watchdog");
}

void RunWatchdog::run()
{
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        const Clock::time_point now = Clock::now();
        if (now >= m_hardEndAt)
            endWithResult();
        if (now >= m_deadline) {
            m_deadline = Clock::time_point::max();
            m_pending = Event::Deadline;
            m_hardEndAt = std::min(m_hardEndAt, now + m_afterDeadline);
            lock.unlock();
            m_onEvent(Event::Deadline);
            continue;
        }
        const int timeoutMs = pollTimeoutMs(std::min(m_deadline, m_hardEndAt), now);
        lock.unlock();

        if (!waitForSignal(timeoutMs))
            continue;
        lock.lock();
        if (m_interrupted)
            quitAtOnce();
        m_interrupted = true;
        m_pending = Event::Interrupt;
        m_hardEndAt = std::min(m_hardEndAt, Clock::now() + m_afterInterrupt);
        lock.unlock();
        m_onEvent(Event::Interrupt);
    }
}

bool RunWatchdog::waitForSignal(int timeoutMs)
{
    pollfd watched[] = {{m_signals, POLLIN, 0}, {m_wakeup, POLLIN, 0}};
    if (::poll(watched, 2, timeoutMs) <= 0)
        return false;
    if (watched[1].revents & POLLIN) {
        uint64_t count = 0;
        if (::read(m_wakeup, &count, sizeof count) != sizeof count)
            return false;
    }
    signalfd_siginfo info;
    return (watched[0].revents & POLLIN) && ::read(m_signals, &info, sizeof info) == sizeof info;
}

void RunWatchdog::endWithResult()
{
    // The event loop did not end the run in time: the result is told (once) and the process ends.
    const int exitCode = m_endedExitCode >= 0 ? m_endedExitCode : m_hardEnd(m_pending);
    std::fflush(stdout);
    _exit(exitCode);
}

void RunWatchdog::quitAtOnce()
{
    // The user will not wait for the cancel to finish; what is known of the run is still told.
    std::fflush(stdout);
    if (::write(Console::errorDescriptor(), QuitAtOnceText, sizeof QuitAtOnceText - 1) < 0)
        std::perror("dux-host");
    if (m_endedExitCode < 0)
        m_hardEnd(Event::Interrupt);
    std::fflush(stdout);
    _exit(InterruptedExitCode);
}
