#pragma once

#include "plugininterface.h"

class CommandHandlerInterface;

// One link of the host (a serial port, a USB device, ...) with its command channel.
class DUXLConnectionInterface : public PluginInterface
{
    Q_OBJECT
public:
    // The kinds of link a connection reports through interfaceType(). The host gives the kinds 3 to 8
    // no meaning the tool needs beyond "another link"; 7 is not one of them.
    enum LinkKind { Usb = 1, Serial = 2, OtherLink3 = 3, OtherLink4, OtherLink5, OtherLink6, OtherLink8 = 8 };

    using PluginInterface::PluginInterface;

    // Null when the link has no command channel.
    virtual CommandHandlerInterface* commandHandler() const = 0;
    // One of LinkKind; any other value is a link the tool does not know.
    virtual int interfaceType() const = 0;
    // False while an update owns the link.
    virtual void setActive(bool active) = 0;
};
