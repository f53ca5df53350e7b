#include "plugininterface.h"

#include <QIcon>

PluginInterface::PluginInterface(const QString& key, const QString& title, int kind, PluginHandler* handler,
                                 const QString& iconPath, QWidget* parent)
    : QWidget(parent)
    , m_key(key)
    , m_title(title)
    , m_kind(kind)
    , m_handler(handler)
    , m_iconPath(iconPath)
{
    if (!iconPath.isEmpty())
        setWindowIcon(QIcon(iconPath));
}

PluginInterface::~PluginInterface() = default;

QString PluginInterface::versionInfo()
{
    return QString();
}

void PluginInterface::aboutToExit()
{
}

void PluginInterface::setEnabled(bool enabled)
{
    m_enabled = enabled;
    QWidget::setEnabled(enabled);
}

void PluginInterface::setParameter(const QString&, const QVariant&, int)
{
}

void PluginInterface::receiveMessage(int, const QString&)
{
}

void PluginInterface::showPlugin()
{
    show();
}

void PluginInterface::hidePlugin()
{
    hide();
}

PluginInterface* PluginInterface::createInstance(QString, PluginHandler*)
{
    return nullptr;
}

void PluginInterface::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit visibilityChanged(true);
}

void PluginInterface::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit visibilityChanged(false);
}
