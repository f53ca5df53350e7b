#include "messagelog.h"

#include <QMutexLocker>

namespace {
// The one log installed now; the message handler is a plain function.
MessageLog* installedLog = nullptr;
QtMessageHandler forwardTo = nullptr;
}

MessageLog::MessageLog()
{
    installedLog = this;
    m_previous = qInstallMessageHandler(&MessageLog::handle);
    forwardTo = m_previous;
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(m_previous);
    installedLog = nullptr;
    forwardTo = nullptr;
}

void MessageLog::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (installedLog) {
        QMutexLocker lock(&installedLog->m_mutex);
        installedLog->m_messages.append({type, message});
    }
    if (type != QtDebugMsg && type != QtInfoMsg && forwardTo)
        forwardTo(type, context, message);
}

QStringList MessageLog::messages(QtMsgType type) const
{
    QMutexLocker lock(&m_mutex);
    QStringList texts;
    for (const auto& message : m_messages) {
        if (message.first == type)
            texts.append(message.second);
    }
    return texts;
}

void MessageLog::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
}
