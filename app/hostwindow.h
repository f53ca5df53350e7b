#pragma once

#include <QList>
#include <QMainWindow>

class ContainerInterface;
class ModuleDiscovery;
class PluginHandler;
class QDialog;
class QTreeWidget;

// The host's main window: the modules found on the links, and one action per container plug-in that
// shows the plug-in in a window of its own.
class HostWindow : public QMainWindow
{
    Q_OBJECT
public:
    HostWindow(PluginHandler* handler, ModuleDiscovery* discovery, const QList<ContainerInterface*>& containers,
               QWidget* parent = nullptr);

    // Shows `container` in a window of its own and hands it the window (init); the window emits
    // finished(int) when it closes, which the container answers by detaching itself.
    QDialog* openContainer(ContainerInterface* container);

private:
    void refreshModules();

    PluginHandler* m_handler;
    QTreeWidget* m_modules;
};
