#include "toolhome.h"

#include "appsettings.h"

#include <QDir>
#include <QFile>

bool ToolHome::setUp(const char* timeScale)
{
    if (!m_dir.isValid())
        return false;
    qputenv("DUX_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    qputenv("DUX_TIME_SCALE", timeScale);
    return true;
}

void ToolHome::reset()
{
    AppSettings settings;
    settings.clear();
    settings.sync();
    QFile::remove(poolPath());
    QDir(poolPath()).removeRecursively();
    QDir().mkpath(poolPath());
}

QString ToolHome::poolPath() const
{
    return QDir::cleanPath(m_dir.filePath(QStringLiteral("Firmware")));
}
