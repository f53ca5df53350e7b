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
    m_processId = 0;
    m_processName.clear();
    // A port is often named through a link (dux-sim's, /dev/serial/by-id): the open file names its target.
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return false;
    const QDir proc(m_procRoot);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == QCoreApplication::applicationPid())
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        const QFileInfoList files = fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo& file : files) {
            if (file.symLinkTarget() != device)
                continue;
            QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
            m_processId = pid;
            m_processName = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
            return true;
        }
    }
    return false;
}

QString PortHolder::description() const
{
    return QStringLiteral("%1 (process %2)").arg(m_processName.isEmpty() ? QStringLiteral("?") : m_processName).arg(m_processId);
}
