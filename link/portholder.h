#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Finds the processes that hold a device open, from the open files every process lists under /proc,
// so that a port another program keeps busy can be reported with that program's name.
class PortHolder
{
public:
    explicit PortHolder(const QString& procRoot = QStringLiteral("/proc"));

    // Looks for processes other than this one with `devicePath` open; false when none can be seen
    // (none holds it, or the holders' files may not be read by this user).
    bool find(const QString& devicePath);
    QList<qint64> processIds() const { return m_processIds; }
    // "NAME (process PID)", for each holder, comma-separated.
    QString description() const;

private:
    QString m_procRoot;
    QList<qint64> m_processIds;
    QStringList m_processNames;
};
