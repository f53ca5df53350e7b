#include "appsettings.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSettings, "dux.settings", QtInfoMsg)

namespace {
constexpr const char* SettingsFileName = "dux.ini";
constexpr const char* DefaultHomeFolder = "dux/home";
// Beside the settings file: how it was before a save dropped the lines that could not be read.
constexpr const char* UnreadableCopySuffix = ".unreadable";
}

AppSettings::AppSettings(QObject* parent)
    : QSettings(homePath() + QLatin1Char('/') + QLatin1String(SettingsFileName), QSettings::IniFormat, parent)
{
    // The next save writes back only what could be read: keep the file as it is once, and say so.
    if (status() != QSettings::FormatError)
        return;
    const QString copy = fileName() + QLatin1String(UnreadableCopySuffix);
    if (!QFile::exists(copy) && QFile::copy(fileName(), copy))
        qCWarning(lcSettings).noquote() << fileName() << "cannot be read in full; the next save keeps only what"
                                        << "can be read, and the file as it was is kept as" << copy;
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
