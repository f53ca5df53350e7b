#include "appsettings.h"

#include <QDir>
#include <QStandardPaths>

namespace {
constexpr const char* SettingsFileName = "dux.ini";
constexpr const char* DefaultHomeFolder = "dux/home";
}

AppSettings::AppSettings(QObject* parent)
    : QSettings(homePath() + QLatin1Char('/') + QLatin1String(SettingsFileName), QSettings::IniFormat, parent)
{
}

QString AppSettings::homePath()
{
    QString path = qEnvironmentVariable(HomeEnvironmentVariable);
    if (path.isEmpty()) {
        path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
               + QLatin1String(DefaultHomeFolder);
    }
    QDir().mkpath(path);
    return QDir::cleanPath(QDir(path).absolutePath());
}
