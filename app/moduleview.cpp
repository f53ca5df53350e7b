#include "moduleview.h"

#include <algorithm>

ModuleView::ModuleView(PluginHandler* host, const QString& moduleKey, bool followNewModules, QObject* parent)
    : PluginHandler(parent)
    , m_host(host)
{
    mirror(moduleKey);
    if (followNewModules)
        connect(host, &PluginHandler::modulePluginAdded, this, &ModuleView::mirror);
    connect(host, &PluginHandler::modulePluginRemoved, this, &ModuleView::forget);
}

void ModuleView::mirror(const QString& key)
{
    DUXLModuleInterface* module = m_host->getModulePlugin(key);
    if (!module)
        return;
    const QString connectionKey = m_host->connectionKey(key);
    addConnectionPlugin(connectionKey, m_host->getConnectionPlugin(connectionKey));
    addModulePlugin(key, module, connectionKey);
}

void ModuleView::forget(const QString& key)
{
    const QString connectionKey = this->connectionKey(key);
    if (connectionKey.isEmpty())
        return;
    removeModulePlugin(key);
    const QStringList keys = getModulePluginKeys(false);
    if (std::none_of(keys.begin(), keys.end(),
                     [this, &connectionKey](const QString& other) { return this->connectionKey(other) == connectionKey; }))
        removeConnectionPlugin(connectionKey);
}
