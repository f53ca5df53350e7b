#include "modulelink.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "global.h"
#include "pluginhandler.h"

#include <QDebug>
#include <QPointer>

int ModuleLink::kind() const
{
    return connection->interfaceType();
}

ModuleLink ModuleLink::lookUp(PluginHandler* pluginHandler, const QString& moduleKey)
{
    ModuleLink link;
    if (!pluginHandler)
        return link;
    link.module = pluginHandler->getModulePlugin(moduleKey);
    if (link.module)
        link.connection = link.module->connectionInterface();
    if (link.connection)
        link.handler = link.connection->commandHandler();
    return link;
}

void ModuleLink::handBack(const ModuleLink& link)
{
    if (!link.isComplete() || !LinkPolicy::forKind(link.kind()).handsLinkBack())
        return;
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    link.connection->setActive(true);
}

void ModuleLink::takeOver(const ModuleLink& link)
{
    link.connection->setActive(false);
    link.connection->setEnabled(false);
    link.module->setEnabled(false);
}

void ModuleLink::handConnectionBack(PluginHandler* pluginHandler, const QString& moduleKey)
{
    DUXLConnectionInterface* connection = pluginHandler->getConnectionPlugin(pluginHandler->connectionKey(moduleKey));
    if (connection) {
        if (LinkPolicy::forKind(connection->interfaceType()).handsLinkBack()) {
            connection->setEnabled(true);
            connection->setActive(true);
        }
    } else if (Global::instance(false)->internal()) {
        qCritical() << "no Connection Plugin";
    }
}

QString ModuleLink::askVersion(const ModuleLink& link)
{
    // A module whose address is unknown to its bootloader still answers at address 1. The handler goes
    // when its port does, which may happen during the first question.
    const QPointer<CommandHandlerInterface> handler(link.handler);
    const unsigned char address = link.module->moduleAddress();
    QString version = handler->getFirmwareVersion(address);
    if (handler && version.isEmpty() && address != LinkPolicy::BootloaderAddress)
        version = handler->getFirmwareVersion(LinkPolicy::BootloaderAddress);
    return version;
}
