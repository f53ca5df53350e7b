#include "linkpolicy.h"

#include "duxlconnectioninterface.h"
#include "linkkindrules.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace {
constexpr int DefaultSerialBaud = 9600;
constexpr int OtherLinkRate = 1000;

using Reopen = LinkPolicy::Reopen;
const LinkPolicy Rules[] = {
    // kind, reopen, default rate, rate after the entry command
    {DUXLConnectionInterface::Usb, Reopen::OpenDevice, 0, 0},
    {DUXLConnectionInterface::Serial, Reopen::BootloaderBaud, DefaultSerialBaud, 0},
    {DUXLConnectionInterface::OtherLink3, Reopen::RememberedRate, OtherLinkRate, OtherLinkRate},
    {DUXLConnectionInterface::OtherLink4, Reopen::RememberedRate, OtherLinkRate, OtherLinkRate},
    {DUXLConnectionInterface::OtherLink5, Reopen::RememberedRate, OtherLinkRate, OtherLinkRate},
    {DUXLConnectionInterface::OtherLink6, Reopen::RememberedRate, OtherLinkRate, OtherLinkRate},
    {DUXLConnectionInterface::OtherLink8, Reopen::RememberedRate, OtherLinkRate, OtherLinkRate},
};

// Bootloaders of these module kinds only talk at 111111 baud; every other one at 115200.
const QStringList HighRateModules = {QStringLiteral("2804"), QStringLiteral("2805"), QStringLiteral("3906"),
                                     QStringLiteral("3907")};
constexpr int HighRateBootloaderBaud = 111111;
constexpr int BootloaderBaud = 115200;
}

LinkPolicy LinkPolicy::forKind(int kind)
{
    const auto* rule = std::find_if(std::begin(Rules), std::end(Rules),
                                    [kind](const LinkPolicy& candidate) { return candidate.kind == kind; });
    LinkPolicy policy;
    if (rule != std::end(Rules))
        policy = *rule;
    policy.kind = kind;
    policy.reenumerates = LinkKindRules::forKind(kind).reenumerates;
    return policy;
}

LinkPolicy::BootloaderBaudRate LinkPolicy::bootloaderBaud(const QString& moduleKind)
{
    if (HighRateModules.contains(moduleKind))
        return {HighRateBootloaderBaud, true};
    return {BootloaderBaud, false};
}
