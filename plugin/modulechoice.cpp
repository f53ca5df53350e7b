#include "modulechoice.h"

#include "commandhandlerinterface.h"
#include "duxlmoduleinterface.h"
#include "modulelink.h"
#include "toolsettings.h"
#include "versiontext.h"

#include <QDebug>

namespace {
// Debug lines go out under the name of the tool's slot that leads here.
constexpr const char* SelectionFunction = "FirmwareUpdate::on_cmbModules_currentIndexChanged()";
}

ModuleChoice ModuleChoice::of(PluginHandler* pluginHandler, ToolSettings& settings, const QString& moduleKey)
{
    ModuleChoice choice;
    const ModuleLink link = ModuleLink::lookUp(pluginHandler, moduleKey);
    if (!link.isComplete())
        return choice;
    choice.moduleAddress = link.module->moduleAddress();
    choice.moduleName = link.module->moduleName();
    if (!link.handler->isDeviceOpen()) {
        qDebug() << SelectionFunction << "device not open!";
        return choice;
    }
    choice.deviceOpen = true;
    choice.version = link.handler->getFirmwareVersion(link.module->moduleAddress());
    qDebug() << SelectionFunction << "firmware version:" << choice.version;
    // Only a module running its firmware tells the rate and address it is used with.
    if (VersionText::namesFirmware(choice.version))
        choice.linkRemembered = settings.rememberLink(link.connection, link.module, link.handler->dataRate());
    return choice;
}
