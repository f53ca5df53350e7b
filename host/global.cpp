#include "global.h"

#include <QDebug>
#include <QMutexLocker>

Global::Global()
    : m_internal(!qEnvironmentVariableIsEmpty(InternalEnvironmentVariable))
{
}

Global* Global::instance(bool verbose)
{
    static Global global;
    if (verbose)
        qDebug() << "Global::instance()" << QThread::currentThreadId();
    return &global;
}

void Global::registerThread(Qt::HANDLE threadId, const QString& name)
{
    QMutexLocker lock(&m_mutex);
    m_threads.insert(threadId, name);
}

void Global::unregisterThread(Qt::HANDLE threadId)
{
    QMutexLocker lock(&m_mutex);
    m_threads.remove(threadId);
}

QString Global::threadName(Qt::HANDLE threadId) const
{
    QMutexLocker lock(&m_mutex);
    return m_threads.value(threadId);
}

int Global::registeredThreadCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_threads.size();
}

bool Global::internal() const
{
    QMutexLocker lock(&m_mutex);
    return m_internal;
}

void Global::setInternal(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_internal = on;
}
