#pragma once

#include "appsettings.h"

#include <QString>

class DUXLConnectionInterface;
class DUXLModuleInterface;

// What the tool remembers between runs in the host's settings: per link the data rate and address
// its module runs its firmware at, and per module name the folder a firmware file was chosen from.
class ToolSettings
{
public:
    // The data rate and module address last used on a module's link.
    struct RememberedLink
    {
        int dataRate;
        int address;
    };

    // Stores the link of a module that runs its firmware; false when its connection key names no port.
    bool rememberLink(DUXLConnectionInterface* connection, DUXLModuleInterface* module, int dataRate);
    // The stored link, or `defaultRate` at the bootloader's address when none was stored.
    RememberedLink recallLink(DUXLConnectionInterface* connection, DUXLModuleInterface* module, int defaultRate);

    QString firmwareDirectory(const QString& moduleName, const QString& fallback);
    void setFirmwareDirectory(const QString& moduleName, const QString& directory);

    QString homePath() const { return m_settings.homePath(); }
    // Writes what is stored to the file.
    void sync() { m_settings.sync(); }
    // Why the settings could not be saved (plain text), empty when they could.
    QString unsavedReason() const;

private:
    AppSettings m_settings;
};
