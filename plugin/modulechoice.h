#pragma once

#include <QString>

class PluginHandler;
class ToolSettings;

// What choosing a module finds: its name (empty without a complete link), its address, and the version
// it runs when its device is open; a module running its firmware has its link remembered.
struct ModuleChoice
{
    QString moduleName;
    // The module's address; -1 without a complete link.
    int moduleAddress = -1;
    bool deviceOpen = false;
    QString version;
    // The link was stored in the settings (a module running its firmware).
    bool linkRemembered = false;

    static ModuleChoice of(PluginHandler* pluginHandler, ToolSettings& settings, const QString& moduleKey);
};
