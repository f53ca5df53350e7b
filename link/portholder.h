#pragma once

#include <QString>

// Finds the process that holds a device open, from the open files every process lists under /proc,
// so that a port another program keeps busy can be reported with that program's name.
class PortHolder
{
public:
    explicit PortHolder(const QString& procRoot = QStringLiteral("/proc"));

    // Looks for a process other than this one with `devicePath` open; false when none can be seen
    // (none holds it, or the holder's files may not be read by this user).
    bool find(const QString& devicePath);
    qint64 processId() const { return m_processId; }
    QString processName() const { return m_processName; }
    // "NAME (process PID)".
    QString description() const;

private:
    QString m_procRoot;
    qint64 m_processId = 0;
    QString m_processName;
};
