#pragma once

#include <QObject>

class QSocketNotifier;

// Turns a Unix signal (SIGINT, SIGTERM, ...) into a Qt signal delivered on the event loop, where it is
// safe to act on it; the signal's own action (ending the process) no longer happens.
class SignalNotifier : public QObject
{
    Q_OBJECT
public:
    SignalNotifier(int signalNumber, QObject* parent = nullptr);
    ~SignalNotifier() override;

    // Blocks the signal in the calling thread and in the threads it starts from now on. Call it before
    // anything starts threads (a QApplication may), or one of them may still take the signal's action.
    static void blockSignal(int signalNumber);

signals:
    void raised();

private:
    void takeSignals();

    int m_descriptor;
    QSocketNotifier* m_notifier;
};
