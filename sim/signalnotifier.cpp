#include "signalnotifier.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

SignalNotifier::SignalNotifier(int signalNumber, QObject* parent)
    : QObject(parent)
{
    blockSignal(signalNumber);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    m_descriptor = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalNotifier::takeSignals);
}

SignalNotifier::~SignalNotifier()
{
    delete m_notifier;
    ::close(m_descriptor);
}

void SignalNotifier::blockSignal(int signalNumber)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    // Blocked, the signal waits on the descriptor instead of running its action.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void SignalNotifier::takeSignals()
{
    // Taken off the descriptor, or the notifier would fire again at once.
    signalfd_siginfo info;
    while (::read(m_descriptor, &info, sizeof info) == sizeof info)
        emit raised();
}
