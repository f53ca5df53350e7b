#include "portholder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

PortHolder::PortHolder(const QString& procRoot)
    : m_procRoot(procRoot)
{
}

bool PortHolder::find(const QString& devicePath)
{
    m_processIds.clear();
    m_processNames.clear();
    // A port is often named through a link (dux-sim's, /dev/serial/by-id): the open file names its target.
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return false;
    const QDir proc(m_procRoot);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == QCoreApplication::applicationPid())
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        const QFileInfoList files = fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        const bool holds = std::any_of(files.cbegin(), files.cend(),
                                       [&device](const QFileInfo& file) { return file.symLinkTarget() == device; });
        if (!holds)
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        m_processIds.append(pid);
        m_processNames.append(comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString());
    }
    return !m_processIds.isEmpty();
}

QString PortHolder::description() const
{
    QStringList holders;
    for (int i = 0; i < m_processIds.size(); ++i)
        holders.append(QStringLiteral("%1 (process %2)").arg(m_processNames.at(i)).arg(m_processIds.at(i)));
    return holders.join(QStringLiteral(", "));
}
