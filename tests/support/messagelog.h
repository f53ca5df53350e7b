#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Records the Qt messages a test provokes, so that it can check diagnostic lines word for word.
// Installed for its lifetime; debug lines are kept quiet, warnings and worse still reach the console.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // Messages of `type` in order of arrival.
    QStringList messages(QtMsgType type = QtDebugMsg) const;
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_messages;
    QtMessageHandler m_previous;
};
