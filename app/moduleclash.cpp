#include "moduleclash.h"

#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "modulediscovery.h"
#include "pluginhandler.h"

QString ModuleClash::of(const ModuleDiscovery& discovery, PluginHandler& handler, const QStringList& keys)
{
    const QStringList twice = discovery.samePortsTwice();
    if (!twice.isEmpty())
        return QStringLiteral("ports %1 are one module under two names: give its port once")
            .arg(twice.join(QStringLiteral("; ")));
    QStringList usb;
    for (const QString& key : keys) {
        if (reenumerates(handler, key))
            usb.append(key);
    }
    if (usb.size() > 1)
        return QStringLiteral("%1 are on USB links, which come back under a new port when their module restarts: "
                              "give at most one of them to a run of several modules")
            .arg(usb.join(QStringLiteral(", ")));
    return QString();
}

bool ModuleClash::reenumerates(PluginHandler& handler, const QString& key)
{
    DUXLModuleInterface* module = handler.getModulePlugin(key);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    return connection && LinkPolicy::forKind(connection->interfaceType()).reenumerates;
}
