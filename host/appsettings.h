#pragma once

#include <QSettings>

// The host's settings store: one INI file in the application's home folder.
class AppSettings : public QSettings
{
    Q_OBJECT
public:
    // Names the home folder instead of the per-user default (tests, portable installs).
    static constexpr const char* HomeEnvironmentVariable = "DUX_HOME";

    explicit AppSettings(QObject* parent = nullptr);

    // The application's home folder, created when missing, without trailing separator.
    static QString homePath();
};
