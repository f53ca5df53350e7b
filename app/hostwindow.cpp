#include "hostwindow.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "modulediscovery.h"
#include "pluginhandler.h"

#include <QAction>
#include <QDialog>
#include <QHeaderView>
#include <QIcon>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int MainWidth = 640;
constexpr int MainHeight = 360;
constexpr int ContainerWidth = 560;
constexpr int ContainerHeight = 640;
enum Column { KeyColumn, TypeColumn, AddressColumn, LinkColumn, ColumnCount };
}

HostWindow::HostWindow(PluginHandler* handler, ModuleDiscovery* discovery,
                       const QList<ContainerInterface*>& containers, QWidget* parent)
    : QMainWindow(parent)
    , m_handler(handler)
    , m_modules(new QTreeWidget(this))
{
    setWindowTitle(tr("dux host"));
    resize(MainWidth, MainHeight);
    m_modules->setColumnCount(ColumnCount);
    m_modules->setHeaderLabels({tr("Module"), tr("Type"), tr("Address"), tr("Link")});
    m_modules->setRootIsDecorated(false);
    m_modules->header()->setSectionResizeMode(KeyColumn, QHeaderView::Stretch);
    setCentralWidget(m_modules);

    QToolBar* tools = addToolBar(tr("Tools"));
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    for (ContainerInterface* container : containers) {
        QAction* action = tools->addAction(QIcon(container->iconPath()), container->name());
        connect(action, &QAction::triggered, this, [this, container] { openContainer(container); });
    }
    QAction* scan = tools->addAction(tr("Look for modules"));
    connect(scan, &QAction::triggered, discovery, &ModuleDiscovery::rescan);

    connect(handler, &PluginHandler::modulePluginAdded, this, &HostWindow::refreshModules);
    connect(handler, &PluginHandler::modulePluginRemoved, this, &HostWindow::refreshModules);
    refreshModules();
}

QDialog* HostWindow::openContainer(ContainerInterface* container)
{
    if (QWidget* window = container->parentWidget()) {
        window->raise();
        window->activateWindow();
        return qobject_cast<QDialog*>(window);
    }
    auto* window = new QDialog(this);
    window->setWindowTitle(container->name());
    window->resize(ContainerWidth, ContainerHeight);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    container->setParent(window);
    layout->addWidget(container);
    container->init(window);
    container->show();
    window->show();
    return window;
}

void HostWindow::refreshModules()
{
    m_modules->clear();
    const QStringList keys = m_handler->getModulePluginKeys(true);
    for (const QString& key : keys) {
        DUXLModuleInterface* module = m_handler->getModulePlugin(key);
        if (!module)
            continue;
        DUXLConnectionInterface* connection = module->connectionInterface();
        new QTreeWidgetItem(m_modules, {key, module->nameInFirmware(), QString::number(module->moduleAddress()),
                                        connection ? connection->name() : tr("none")});
    }
    statusBar()->showMessage(tr("%n module(s)", nullptr, keys.size()));
}
