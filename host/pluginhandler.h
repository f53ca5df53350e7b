#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>

class DUXLConnectionInterface;
class DUXLModuleInterface;

// The host's register of module and connection plug-ins, looked up by key.
// It does not own the plug-ins: whoever adds one keeps it alive until it is removed.
class PluginHandler : public QObject
{
    Q_OBJECT
public:
    explicit PluginHandler(QObject* parent = nullptr);

    // Registers `module` under `key`, on the connection registered under `connectionKey`.
    void addModulePlugin(const QString& key, DUXLModuleInterface* module, const QString& connectionKey);
    void removeModulePlugin(const QString& key);
    void addConnectionPlugin(const QString& key, DUXLConnectionInterface* connection);
    void removeConnectionPlugin(const QString& key);

    // Module keys; `inDisplayOrder` true: in the order they were found, false: sorted by key.
    QStringList getModulePluginKeys(bool inDisplayOrder) const;
    DUXLModuleInterface* getModulePlugin(const QString& key) const;
    // The key of the connection a module was registered on; empty for an unknown module.
    QString connectionKey(QString moduleKey) const;
    DUXLConnectionInterface* getConnectionPlugin(QString key) const;
    QStringList getConnectionPluginKeys() const;
    // The module under `key` now runs `version` (an update left it in its bootloader): its plug-in keeps
    // it and the module lists are told.
    void noteModuleVersion(const QString& key, const QString& version);

signals:
    void modulePluginAdded(const QString& key);
    void modulePluginRemoved(const QString& key);
    void modulePluginChanged(const QString& key);

private:
    struct ModuleEntry
    {
        QString key;
        DUXLModuleInterface* module;
        QString connectionKey;
    };
    int moduleIndex(const QString& key) const;

    QList<ModuleEntry> m_modules;
    QMap<QString, DUXLConnectionInterface*> m_connections;
};
