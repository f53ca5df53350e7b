#include "firmwarepool.h"

#include "pluginsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {
constexpr const char* PoolFilePattern = "*.hex";
}

FirmwarePool::FirmwarePool(const QString& homePath)
    : m_path(homePath + QLatin1String(PluginSettings::PoolFolder))
{
}

void FirmwarePool::make() const
{
    const QDir pool(m_path);
    if (!pool.exists())
        QDir().mkdir(pool.absolutePath());
}

bool FirmwarePool::hasFirmwareFiles() const
{
    return !QDir(m_path).entryList({QLatin1String(PoolFilePattern)}).isEmpty();
}

QString FirmwarePool::keepCopy(const QString& fileName) const
{
    if (fileName.isEmpty())
        return QString();
    const QString pool = QDir::cleanPath(m_path);
    const QFileInfo file(fileName);
    if (QDir::cleanPath(file.absolutePath()) == pool)
        return QString();
    const auto notKept = [&file](const QString& reason) {
        return QStringLiteral("No copy of %1 was kept in the firmware pool: %2.").arg(file.fileName(), reason);
    };
    const QFileInfo folder(pool);
    if (folder.exists() && !folder.isDir())
        return notKept(QStringLiteral("%1 is a file, not a folder").arg(pool));
    if (!folder.exists() && !QDir().mkdir(pool))
        return notKept(QStringLiteral("the folder %1 cannot be made (%2)").arg(pool, qt_error_string(errno)));
    const QString target = pool + QLatin1Char('/') + file.fileName();
    if (QFileInfo::exists(target)) {
        if (sameContent(file.absoluteFilePath(), target))
            return QString();
        return QStringLiteral("The firmware pool keeps its own %1, which differs from %2; it was not replaced.")
            .arg(target, file.absoluteFilePath());
    }
    QFile source(file.absoluteFilePath());
    if (!source.copy(target))
        return notKept(source.errorString());
    return QString();
}

bool FirmwarePool::sameContent(const QString& first, const QString& second)
{
    QFile a(first);
    QFile b(second);
    return a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.size() == b.size()
        && a.readAll() == b.readAll();
}
