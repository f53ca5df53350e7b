#include "linkkindrules.h"

#include "duxlconnectioninterface.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace {
constexpr const char* TitleContext = "LinkKindRules";

// kind, name, title, port description, port name prefix, one module per link, re-enumerates, handler name prefix
const LinkKindRules Rules[] = {
    {DUXLConnectionInterface::Serial, "Serial", QT_TRANSLATE_NOOP("LinkKindRules", "Serial link %1"),
     "DUXL serial device", nullptr, false, false, nullptr},
    // A module that is itself a USB device (CDC-ACM) shows up as ttyACM<n> and re-enumerates when it restarts.
    {DUXLConnectionInterface::Usb, "USB", QT_TRANSLATE_NOOP("LinkKindRules", "USB link %1"), "DUXL USB device",
     "ttyACM", true, true, "USB construct No: "},
};
// What a link of a kind without a row is carried as.
const LinkKindRules& SerialRules = Rules[0];

template<typename Matches>
const LinkKindRules* findRule(Matches matches)
{
    const auto* rule = std::find_if(std::begin(Rules), std::end(Rules), matches);
    return rule != std::end(Rules) ? rule : nullptr;
}
}

LinkKindRules LinkKindRules::forKind(int kind)
{
    const LinkKindRules* rule = findRule([kind](const LinkKindRules& row) { return row.kind == kind; });
    LinkKindRules rules = rule ? *rule : SerialRules;
    rules.kind = kind;
    return rules;
}

int LinkKindRules::kindOfPort(const QString& portName, const QString& description)
{
    const LinkKindRules* rule = findRule([&description](const LinkKindRules& row) {
        return description == QLatin1String(row.portDescription);
    });
    if (!rule) {
        rule = findRule([&portName](const LinkKindRules& row) {
            return row.portNamePrefix && portName.startsWith(QLatin1String(row.portNamePrefix));
        });
    }
    return (rule ? *rule : SerialRules).kind;
}

int LinkKindRules::kindOfHandler(const QObject& handler)
{
    const QString objectName = handler.objectName();
    const LinkKindRules* rule = findRule([&objectName](const LinkKindRules& row) {
        return row.handlerNamePrefix && objectName.startsWith(QLatin1String(row.handlerNamePrefix));
    });
    return (rule ? *rule : SerialRules).kind;
}

QString LinkKindRules::handlerName(int kind, const QString& portName, int number)
{
    const LinkKindRules rules = forKind(kind);
    return rules.handlerNamePrefix ? QLatin1String(rules.handlerNamePrefix) + QString::number(number) : portName;
}

std::optional<int> LinkKindRules::kindNamed(const QString& name)
{
    const LinkKindRules* rule = findRule([&name](const LinkKindRules& row) {
        return name == QString::fromLatin1(row.name).toLower();
    });
    return rule ? std::optional<int>(rule->kind) : std::nullopt;
}

QStringList LinkKindRules::names()
{
    QStringList names;
    for (const LinkKindRules& row : Rules)
        names.append(QString::fromLatin1(row.name).toLower());
    return names;
}

QString LinkKindRules::title(int kind, const QString& portName)
{
    return QCoreApplication::translate(TitleContext, forKind(kind).titleText).arg(portName);
}
