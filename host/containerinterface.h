#pragma once

#include "plugininterface.h"

class DUXLModuleInterface;

// A tool plug-in that the host shows in a window of its own and keeps informed about module plug-ins.
class ContainerInterface : public PluginInterface
{
    Q_OBJECT
public:
    ContainerInterface(const QString& key, const QString& title, int kind, PluginHandler* handler,
                       const QString& iconPath, QWidget* parent = nullptr);
    ~ContainerInterface() override;

    PluginHandler* pluginHandler() const { return handler(); }

    // Called after the host made `window` the plug-in's parent; may be called again for a later window.
    virtual void init(QWidget* window) = 0;
    virtual void handleMessageFromToolsPlugin(int id, QString message);
    // The host's report that something about a module plug-in changed ("deviceTreeReady", ...).
    virtual void handleModulePlugin(DUXLModuleInterface* plugin, QString msg);
    // The host window closed with `code`.
    virtual void finished(int code);
};

#define ContainerInterface_iid "com.dux.ContainerInterface/2.0"
Q_DECLARE_INTERFACE(ContainerInterface, ContainerInterface_iid)
