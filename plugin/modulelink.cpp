#include "modulelink.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "pluginhandler.h"

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
