#pragma once

#include <QString>

class CommandHandlerInterface;

// What the link layer needs to know of each kind of link (DUXLConnectionInterface::LinkKind): its name,
// whether its module is alone on it, and whether its handlers carry the kind in their name. What an
// update does with each kind is LinkPolicy's (updater/).
struct LinkKindRules
{
    int kind = 0;
    // In connection keys ("<port>/USB") and link titles ("USB link <port>").
    const char* name = "";
    // The module is itself the device behind the port: once it answered, no other module is looked for.
    bool oneModulePerLink = false;
    // Its handlers are named CommandHandlerInterface::UsbObjectNamePrefix and a number.
    bool handlerNamedByKind = false;

    // The title the user sees for the link at `portName` ("Serial link ttyS0"), in the user's language.
    static QString title(int kind, const QString& portName);
    // The link layer carries kinds other than USB as serial lines.
    static LinkKindRules forKind(int kind);
    // The kind of link a handler serves as far as its name tells: USB or serial.
    static int kindOfHandler(const CommandHandlerInterface& handler);
};
