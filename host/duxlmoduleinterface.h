#pragma once

#include "plugininterface.h"

class DUXLConnectionInterface;

// A module the host found on one of its links.
class DUXLModuleInterface : public PluginInterface
{
    Q_OBJECT
public:
    using PluginInterface::PluginInterface;

    // The link the module sits on; null when it has none.
    virtual DUXLConnectionInterface* connectionInterface() const = 0;
    virtual unsigned char moduleAddress() const = 0;
    // The module kind's number as text, e.g. "1234".
    virtual QString nameInFirmware() const = 0;
    virtual QString moduleName() const = 0;
    // The version text the module answered with when the host found it: its firmware's, or its
    // bootloader's while it waits in the bootloader. Empty when the host keeps none.
    virtual QString firmwareVersion() const { return QString(); }
    // What the module runs now, when an update left it elsewhere (its bootloader) than the host found it.
    virtual void setFirmwareVersion(const QString& version) { Q_UNUSED(version) }
    // 4 after the bootloader-entry command, 2 for ready mode.
    virtual void setModuleState(int state) = 0;
};
