#include "linkreopen.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "lowlevel.h"
#include "modulelink.h"
#include "protocolfacts.h"
#include "toolsettings.h"

#include <QDebug>

namespace {
constexpr const char* RefusedHighRate =
    "Could not set baudrate (111111) needed by this module. Use a serial port that supports this.\n";
// The reopen's lines go out under the name of the tool's slot that the worker's request reaches.
constexpr const char* ReopenFunction = "FirmwareUpdate::handleReOpenDevice()";

using Protocol::ModuleState;

LinkReopen::Result answer(bool opened)
{
    LinkReopen::Result result;
    result.answered = true;
    result.opened = opened;
    return result;
}
}

LinkReopen::Result LinkReopen::apply(const ModuleLink& link, int moduleState, ToolSettings& settings,
                                     const QString& moduleKey)
{
    const LinkPolicy policy = LinkPolicy::forKind(link.kind());
    const auto state = static_cast<ModuleState>(moduleState);
    switch (policy.reopen) {
    case LinkPolicy::Reopen::BootloaderBaud:
        if (state == ModuleState::Bootloader)
            return switchToBootloaderBaud(link);
        if (state == ModuleState::Firmware)
            return useRememberedLink(link, moduleState, settings);
        return answer(true);
    case LinkPolicy::Reopen::RememberedRate:
        if (state == ModuleState::Bootloader || state == ModuleState::Firmware)
            return useRememberedLink(link, moduleState, settings);
        return answer(true);
    case LinkPolicy::Reopen::OpenDevice:
        if (state == ModuleState::Ready) {
            // The module restarts and comes back under a new port; the port change takes it from there.
            link.module->setModuleState(moduleState);
            Result waiting;
            waiting.note = moduleKey + QStringLiteral(" Waiting...\n");
            return waiting;
        }
        qCDebug(debLowLevel) << ReopenFunction << link.handler->isDeviceOpen() << link.handler->property("dpComPort");
        return answer(link.handler->openDevice());
    case LinkPolicy::Reopen::None:
        break;
    }
    return Result();
}

LinkReopen::Result LinkReopen::switchToBootloaderBaud(const ModuleLink& link)
{
    const LinkPolicy::BootloaderBaudRate rate = LinkPolicy::bootloaderBaud(link.module->nameInFirmware());
    if (!link.handler->setDataRate(rate.baud) && rate.mustBeAccepted) {
        Result refused = answer(false);
        refused.note = QLatin1String(RefusedHighRate);
        return refused;
    }
    Result switched = answer(true);
    switched.moduleAddress = LinkPolicy::BootloaderAddress;
    return switched;
}

LinkReopen::Result LinkReopen::useRememberedLink(const ModuleLink& link, int moduleState, ToolSettings& settings)
{
    const LinkPolicy policy = LinkPolicy::forKind(link.kind());
    const ToolSettings::RememberedLink last = settings.recallLink(link.connection, link.module, policy.defaultDataRate);
    // A serial link is only ever told its firmware rate here; other links name the mode.
    if (policy.reopen == LinkPolicy::Reopen::BootloaderBaud)
        qDebug() << ReopenFunction << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
    else
        qDebug() << ReopenFunction << moduleState << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
    link.handler->setDataRate(last.dataRate);
    Result remembered = answer(true);
    remembered.moduleAddress = last.address & 0xFF;
    return remembered;
}
