#pragma once

#include "plugininterface.h"

class CommandHandlerInterface;

// One link of the host (a serial port, a USB device, ...) with its command channel.
class DUXLConnectionInterface : public PluginInterface
{
    Q_OBJECT
public:
    enum LinkKind { Usb = 1, Serial = 2 };

    using PluginInterface::PluginInterface;

    // Null when the link has no command channel.
    virtual CommandHandlerInterface* commandHandler() const = 0;
    // 1 USB, 2 serial, 3, 4, 5, 6 and 8 other links.
    virtual int interfaceType() const = 0;
    // False while an update owns the link.
    virtual void setActive(bool active) = 0;
};
