#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>

// Process-wide host state: the register of named threads and the internal-diagnostics switch.
class Global
{
public:
    // Turns internal diagnostics on for the whole process.
    static constexpr const char* InternalEnvironmentVariable = "DUX_INTERNAL";

    // The one instance; `verbose` writes a debug line naming the caller's thread.
    static Global* instance(bool verbose = false);

    void registerThread(Qt::HANDLE threadId, const QString& name);
    void unregisterThread(Qt::HANDLE threadId);
    QString threadName(Qt::HANDLE threadId) const;
    int registeredThreadCount() const;

    // Whether internal (developer) diagnostics are wanted.
    bool internal() const;
    void setInternal(bool on);

private:
    Global();

    mutable QMutex m_mutex;
    QHash<Qt::HANDLE, QString> m_threads;
    bool m_internal;
};
