#include "linkkindrules.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"

namespace {
constexpr LinkKindRules UsbRules{DUXLConnectionInterface::Usb, "USB", true, true};
constexpr LinkKindRules SerialRules{DUXLConnectionInterface::Serial, "Serial", false, false};
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
