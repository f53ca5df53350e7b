#include "nestedwaits.h"

#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "pluginhandler.h"
#include "serialcommandhandler.h"

void NestedWaits::shareAmongModules(PluginHandler* handler, QObject* context)
{
    const auto share = [handler](const QString& key) {
        DUXLModuleInterface* module = handler->getModulePlugin(key);
        DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
        if (auto* link = qobject_cast<SerialCommandHandler*>(connection ? connection->commandHandler() : nullptr))
            link->setWaitInEventLoop(true);
    };
    for (const QString& key : handler->getModulePluginKeys(true))
        share(key);
    // Queued: the register reports from inside the discovery's search.
    QObject::connect(handler, &PluginHandler::modulePluginAdded, context, share, Qt::QueuedConnection);
}
