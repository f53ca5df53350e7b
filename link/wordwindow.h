#pragma once

#include "commandhandlerinterface.h"

#include <QByteArray>
#include <QVector>
#include <optional>

class Command;
class DuxlFrame;

// The bookkeeping of one window of command requests: which may go out now, which request each reply
// answers (by its sequence number), and where the window stopped. Knows nothing of the port, so that a
// wait that holds the thread and one driven by the port's notifications share it.
class WordWindow
{
public:
    using Failure = CommandHandlerInterface::Failure;
    // What a frame read from the link was to the window.
    enum class Taken {
        Answer,  // the reply due next, carrying its request out
        Refusal, // the reply due next, refusing its request or echoing another command: the window ends
        Stray,   // a reply to no request in flight (a late copy, or one never asked for)
        Other,   // a frame of another kind, or one read after the window ended
    };

    // `replies` are left invalid until their own reply fills them.
    WordWindow(const QVector<Command*>& requests, const QVector<Command*>& replies, int window);

    // Another request may go out: one is left, fewer than the window are in flight, and none failed.
    bool maySend() const;
    // The next request's frame under `sequence`, noted as sent at `nowMs`.
    QByteArray send(quint8 sequence, qint64 nowMs);
    Taken take(const DuxlFrame& frame);
    void fail(Failure failure);

    // Every request carried out, or the window stopped.
    bool isOver() const;
    // No reply outstanding: the next requests go out before anything is awaited.
    bool allAnswered() const { return m_done == m_sent; }
    // When the reply due next is late: `timeoutMs` after its request went out.
    qint64 dueByMs(int timeoutMs) const;
    int size() const { return int(m_requests.size()); }
    int carriedOut() const { return m_done; }
    // The reply that refused its request (valid after Taken::Refusal).
    const Command& refusal() const { return *m_replies.at(m_done); }
    std::optional<Failure> failure() const { return m_failure; }
    // Requests sent whose replies may still come, once the window stopped.
    int stillDue() const { return m_sent - m_done - (m_refused ? 1 : 0); }

private:
    QVector<Command*> m_requests;
    QVector<Command*> m_replies;
    int m_window;
    QVector<quint8> m_sequences;
    QVector<qint64> m_sentMs;
    int m_sent = 0;
    int m_done = 0;
    std::optional<Failure> m_failure;
    bool m_refused = false;
};
