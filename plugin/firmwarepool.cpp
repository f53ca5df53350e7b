#include "firmwarepool.h"

#include "protocolfacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr const char* PoolFilePattern = "*.hex";
}

FirmwarePool::FirmwarePool(const QString& homePath)
    : m_path(homePath + QLatin1String(Protocol::PoolFolder))
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

void FirmwarePool::keepCopy(const QString& fileName) const
{
    if (fileName.isEmpty())
        return;
    const QString pool = QDir::cleanPath(m_path);
    const QFileInfo file(fileName);
    if (QDir::cleanPath(file.absolutePath()) == pool)
        return;
    QDir().mkdir(pool);
    QFile::copy(file.absoluteFilePath(), pool + QLatin1Char('/') + file.fileName());
}
