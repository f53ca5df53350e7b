#include "linkkindrules.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"

#include <QCoreApplication>

namespace {
constexpr LinkKindRules UsbRules{DUXLConnectionInterface::Usb, "USB", true, true};
constexpr LinkKindRules SerialRules{DUXLConnectionInterface::Serial, "Serial", false, false};
constexpr const char* TitleContext = "LinkKindRules";
constexpr const char* UsbTitle = QT_TRANSLATE_NOOP("LinkKindRules", "USB link %1");
constexpr const char* SerialTitle = QT_TRANSLATE_NOOP("LinkKindRules", "Serial link %1");
}

QString LinkKindRules::title(int kind, const QString& portName)
{
    return QCoreApplication::translate(TitleContext, kind == UsbRules.kind ? UsbTitle : SerialTitle).arg(portName);
}

LinkKindRules LinkKindRules::forKind(int kind)
{
    LinkKindRules rules = kind == UsbRules.kind ? UsbRules : SerialRules;
    rules.kind = kind;
    return rules;
}

int LinkKindRules::kindOfHandler(const CommandHandlerInterface& handler)
{
    return handler.isUsbHandler() ? UsbRules.kind : SerialRules.kind;
}
