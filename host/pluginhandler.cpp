#include "pluginhandler.h"

#include "duxlmoduleinterface.h"

PluginHandler::PluginHandler(QObject* parent)
    : QObject(parent)
{
}

int PluginHandler::moduleIndex(const QString& key) const
{
    for (int i = 0; i < m_modules.size(); ++i) {
        if (m_modules.at(i).key == key)
            return i;
    }
    return -1;
}

void PluginHandler::addModulePlugin(const QString& key, DUXLModuleInterface* module, const QString& connectionKey)
{
    const int index = moduleIndex(key);
    if (index >= 0)
        m_modules[index] = {key, module, connectionKey};
    else
        m_modules.append({key, module, connectionKey});
    emit modulePluginAdded(key);
}

void PluginHandler::removeModulePlugin(const QString& key)
{
    const int index = moduleIndex(key);
    if (index < 0)
        return;
    m_modules.removeAt(index);
    emit modulePluginRemoved(key);
}

void PluginHandler::noteModuleVersion(const QString& key, const QString& version)
{
    DUXLModuleInterface* module = getModulePlugin(key);
    if (!module)
        return;
    module->setFirmwareVersion(version);
    emit modulePluginChanged(key);
}

void PluginHandler::addConnectionPlugin(const QString& key, DUXLConnectionInterface* connection)
{
    m_connections.insert(key, connection);
}

void PluginHandler::removeConnectionPlugin(const QString& key)
{
    m_connections.remove(key);
}

QStringList PluginHandler::getModulePluginKeys(bool inDisplayOrder) const
{
    QStringList keys;
    for (const ModuleEntry& entry : m_modules)
        keys.append(entry.key);
    if (!inDisplayOrder)
        keys.sort();
    return keys;
}

DUXLModuleInterface* PluginHandler::getModulePlugin(const QString& key) const
{
    const int index = moduleIndex(key);
    return index >= 0 ? m_modules.at(index).module : nullptr;
}

QString PluginHandler::connectionKey(QString moduleKey) const
{
    const int index = moduleIndex(moduleKey);
    return index >= 0 ? m_modules.at(index).connectionKey : QString();
}

DUXLConnectionInterface* PluginHandler::getConnectionPlugin(QString key) const
{
    return m_connections.value(key, nullptr);
}

QStringList PluginHandler::getConnectionPluginKeys() const
{
    return m_connections.keys();
}
