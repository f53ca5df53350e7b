#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QObject;

// Everything below the update itself knows of each kind of link (DUXLConnectionInterface::LinkKind), one
// row per kind in linkkindrules.cpp: how a port of the kind is recognised, how its handlers are named, its
// name and title, whether its module is alone on it and whether it leaves its port when it restarts. A
// link's kind is decided here once and carried as a value from then on. What an update does with each
// kind is LinkPolicy's (updater/).
struct LinkKindRules
{
    int kind = 0;
    // In connection keys ("<port>/USB") and link titles; lower-cased, in the port-list file, the records
    // and dux-sim's --link.
    const char* name = "";
    // The title the user sees, "%1" the port name; translated in the context "LinkKindRules" (see title()).
    const char* titleText = "";
    // The description a port of this kind carries when it comes from a port-list file or --usb-port.
    const char* portDescription = "";
    // System ports whose name starts with this are of this kind; null: none is told by its name.
    const char* portNamePrefix = nullptr;
    // The module is itself the device behind the port: once it answered, no other module is looked for.
    bool oneModulePerLink = false;
    // The module leaves its port whenever it restarts and comes back under the next name.
    bool reenumerates = false;
    // Its handlers are named this followed by a number; null: by their port's name.
    const char* handlerNamePrefix = nullptr;

    // The rules of `kind`; kinds without a row of their own are carried as serial lines.
    static LinkKindRules forKind(int kind);
    // The kind a port is of, by its description, else by its name; serial when neither tells.
    static int kindOfPort(const QString& portName, const QString& description);
    // The kind a handler serves as far as its object name tells.
    static int kindOfHandler(const QObject& handler);
    // The object name of a handler of `kind` at `portName`, the `number`th of its kind.
    static QString handlerName(int kind, const QString& portName, int number);
    // The kind whose lower-cased name is `name`; none when no row has it.
    static std::optional<int> kindNamed(const QString& name);
    // The lower-cased names of the kinds with a row, in the table's order.
    static QStringList names();
    // The title the user sees for the link at `portName` ("Serial link ttyS0"), in the user's language.
    static QString title(int kind, const QString& portName);
};
