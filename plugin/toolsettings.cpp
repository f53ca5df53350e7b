#include "toolsettings.h"

#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "modulekey.h"
#include "pluginsettings.h"

#include <QFileInfo>

namespace {
// "<port part of the connection key>_<module name>", empty when the connection key has no port part.
QString linkPrefix(DUXLConnectionInterface* connection, DUXLModuleInterface* module)
{
    const QString port = ModuleKey(connection->key()).port();
    if (port.isEmpty())
        return QString();
    return port + QLatin1Char('_') + module->moduleName();
}

QString dataRateKey(const QString& prefix)
{
    return prefix + QLatin1String(PluginSettings::DataRateSuffix);
}

// Carries both suffixes: stored settings were written under this name.
QString addressKey(const QString& prefix)
{
    return dataRateKey(prefix) + QLatin1String(PluginSettings::AddressSuffix);
}

QString directoryKey(const QString& moduleName)
{
    return moduleName + QLatin1String(PluginSettings::DirectorySuffix);
}
}

bool ToolSettings::rememberLink(DUXLConnectionInterface* connection, DUXLModuleInterface* module, int dataRate)
{
    const QString prefix = linkPrefix(connection, module);
    if (prefix.isEmpty())
        return false;
    m_settings.beginGroup(QLatin1String(PluginSettings::Group));
    m_settings.setValue(dataRateKey(prefix), dataRate);
    m_settings.setValue(addressKey(prefix), int(module->moduleAddress()));
    m_settings.endGroup();
    return true;
}

ToolSettings::RememberedLink ToolSettings::recallLink(DUXLConnectionInterface* connection,
                                                      DUXLModuleInterface* module, int defaultRate)
{
    RememberedLink remembered{defaultRate, LinkPolicy::BootloaderAddress};
    const QString prefix = linkPrefix(connection, module);
    if (prefix.isEmpty())
        return remembered;
    m_settings.beginGroup(QLatin1String(PluginSettings::Group));
    remembered.dataRate = m_settings.value(dataRateKey(prefix), defaultRate).toInt();
    remembered.address = m_settings.value(addressKey(prefix), int(LinkPolicy::BootloaderAddress)).toInt();
    m_settings.endGroup();
    return remembered;
}

QString ToolSettings::firmwareDirectory(const QString& moduleName, const QString& fallback)
{
    m_settings.beginGroup(QLatin1String(PluginSettings::Group));
    const QString directory = m_settings.value(directoryKey(moduleName), fallback).toString();
    m_settings.endGroup();
    return directory;
}

void ToolSettings::setFirmwareDirectory(const QString& moduleName, const QString& directory)
{
    m_settings.beginGroup(QLatin1String(PluginSettings::Group));
    m_settings.setValue(directoryKey(moduleName), directory);
    m_settings.endGroup();
}

QString ToolSettings::unsavedReason() const
{
    if (m_settings.status() != QSettings::AccessError)
        return QString();
    const QFileInfo file(m_settings.fileName());
    QString reason = QStringLiteral("it cannot be written");
    if (file.isDir())
        reason = QStringLiteral("it is a folder");
    else if (!QFileInfo(file.absolutePath()).isWritable())
        reason = QStringLiteral("its folder is not writable");
    return QStringLiteral("Settings could not be saved to %1: %2.").arg(file.filePath(), reason);
}
