#include "wordwindow.h"

#include "command.h"
#include "duxlframe.h"

WordWindow::WordWindow(const QVector<Command*>& requests, const QVector<Command*>& replies, int window)
    : m_requests(requests)
    , m_replies(replies)
    , m_window(window)
    , m_sequences(requests.size())
    , m_sentMs(requests.size())
{
    for (Command* reply : replies)
        reply->invalidate();
}

bool WordWindow::maySend() const
{
    return !isOver() && m_sent < size() && m_sent - m_done < m_window;
}

QByteArray WordWindow::send(quint8 sequence, qint64 nowMs)
{
    m_sequences[m_sent] = sequence;
    m_sentMs[m_sent] = nowMs;
    return DuxlFrame::encodeCommandRequest(sequence, *m_requests.at(m_sent++), true);
}

WordWindow::Taken WordWindow::take(const DuxlFrame& frame)
{
    if (isOver() || frame.kind() != DuxlFrame::Kind::CommandReply)
        return Taken::Other;
    int at = m_done;
    while (at < m_sent && m_sequences.at(at) != frame.sequence())
        ++at;
    if (at == m_sent)
        return Taken::Stray;
    // The module answers in order: a later reply first means the due one is lost.
    if (at > m_done) {
        m_failure = Failure::NoReply;
        return Taken::Other;
    }
    const Command& request = *m_requests.at(m_done);
    m_replies.at(m_done)->setReply(request.moduleAddress(), frame.command(), frame.status(), frame.value());
    m_refused = frame.command() != request.command() || frame.status() != CommandHandlerInterface::OkStatus;
    if (m_refused)
        return Taken::Refusal;
    ++m_done;
    return Taken::Answer;
}

void WordWindow::fail(Failure failure)
{
    if (!m_failure)
        m_failure = failure;
}

bool WordWindow::isOver() const
{
    return m_failure || m_refused || m_done == size();
}

qint64 WordWindow::dueByMs(int timeoutMs) const
{
    return m_sentMs.at(m_done) + timeoutMs;
}
