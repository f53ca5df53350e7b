#include "containerinterface.h"

ContainerInterface::ContainerInterface(const QString& key, const QString& title, int kind, PluginHandler* handler,
                                       const QString& iconPath, QWidget* parent)
    : PluginInterface(key, title, kind, handler, iconPath, parent)
{
}

ContainerInterface::~ContainerInterface() = default;

void ContainerInterface::handleMessageFromToolsPlugin(int, QString)
{
}

void ContainerInterface::handleModulePlugin(DUXLModuleInterface*, QString)
{
}

void ContainerInterface::finished(int)
{
}
