#pragma once

#include <QString>

class CommandHandlerInterface;
class DUXLConnectionInterface;
class DUXLModuleInterface;
class PluginHandler;

// The module plug-in of a key, its connection plug-in and that one's command handler; each may be null.
struct ModuleLink
{
    DUXLModuleInterface* module = nullptr;
    DUXLConnectionInterface* connection = nullptr;
    CommandHandlerInterface* handler = nullptr;

    bool isComplete() const { return module && connection && handler; }
    // The connection's kind of link (DUXLConnectionInterface::LinkKind); call only on a complete link.
    int kind() const;

    static ModuleLink lookUp(PluginHandler* pluginHandler, const QString& moduleKey);
    // Gives the module and its link back to the host, unless the host makes the link anew (USB).
    static void handBack(const ModuleLink& link);
    // Takes the module and its link from the host for the update.
    static void takeOver(const ModuleLink& link);
    // Gives back the connection of a module the host no longer knows, unless the host makes it anew (USB).
    static void handConnectionBack(PluginHandler* pluginHandler, const QString& moduleKey);
    // The version the module answers now, at its address or else at the bootloader's; call only on a complete link.
    static QString askVersion(const ModuleLink& link);
};
