#include "commandhandlerinterface.h"

#include "command.h"

CommandHandlerInterface::CommandHandlerInterface(QObject* parent)
    : QObject(parent)
{
}

int CommandHandlerInterface::doWindowedRequests(const QVector<Command*>& requests, const QVector<Command*>& replies)
{
    for (int i = 0; i < requests.size(); ++i) {
        doDirectRequest(requests.at(i), replies.at(i));
        const Command& reply = *replies.at(i);
        if (!reply.isValid() || reply.command() != requests.at(i)->command() || reply.status() != OkStatus)
            return i;
    }
    return int(requests.size());
}

void CommandHandlerInterface::startWindowedRequests(const QVector<Command*>& requests,
                                                    const QVector<Command*>& replies,
                                                    std::function<void(int carriedOut)> done)
{
    done(doWindowedRequests(requests, replies));
}

void CommandHandlerInterface::noteFailure(Failure failure)
{
    switch (failure) {
    case Failure::NoReply:
        m_requestFailure = QStringLiteral("The module did not answer within %1 ms.").arg(maxTimeoutMS());
        return;
    case Failure::CorruptReply:
        m_requestFailure = QStringLiteral("The module's reply arrived corrupt.");
        return;
    case Failure::PortGone:
        m_requestFailure = QStringLiteral("The module's port is gone.");
        return;
    case Failure::LinkBusy:
        m_requestFailure = QStringLiteral("Another request still waits on the module's link.");
        return;
    }
}

void CommandHandlerInterface::noteReplyStatus(const Command& reply)
{
    if (reply.isValid() && reply.status() != OkStatus)
        m_requestFailure = QStringLiteral("The module refused the request with status %1.").arg(reply.status());
}
