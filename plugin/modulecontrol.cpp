#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "command.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "pluginhandler.h"

namespace {
// Modules on these links and of this kind cannot be updated from here.
constexpr const char* ExcludedPortPrefix = "VC";
constexpr const char* ExcludedFirmwareName = "0055";
}

FirmwareUpdate::Link FirmwareUpdate::lookUpLink(const QString& moduleKey) const
{
    Link link;
    if (!pluginHandler())
        return link;
    link.module = pluginHandler()->getModulePlugin(moduleKey);
    if (link.module)
        link.connection = link.module->connectionInterface();
    if (link.connection)
        link.handler = link.connection->commandHandler();
    return link;
}

void FirmwareUpdate::on_btnRefresh_clicked()
{
    ui->cmbModules->blockSignals(false);
    ui->cmbModules->clear();
    if (pluginHandler()) {
        const QStringList keys = pluginHandler()->getModulePluginKeys(true);
        for (const QString& key : keys) {
            DUXLModuleInterface* module = pluginHandler()->getModulePlugin(key);
            if (!module)
                continue;
            const QString baseName = key.section(QLatin1Char('/'), 0, 0);
            if (baseName.startsWith(QLatin1String(ExcludedPortPrefix))
                || module->nameInFirmware() == QLatin1String(ExcludedFirmwareName))
                continue;
            ui->cmbModules->addItem(QIcon(), key, QVariantList{key, module->name(), baseName});
        }
    }
    ui->btnSelect->setEnabled(ui->cmbModules->count() > 0);
}

void FirmwareUpdate::on_cmbModules_currentIndexChanged(int index)
{
    Q_UNUSED(index)
}

void FirmwareUpdate::handleModulePlugin(DUXLModuleInterface* plugin, QString msg)
{
    Q_UNUSED(plugin)
    Q_UNUSED(msg)
}

void FirmwareUpdate::handleUpdateCompleted(bool successfull)
{
    Q_UNUSED(successfull)
}

void FirmwareUpdate::handleUpdateCompleted()
{
    handleUpdateCompleted(true);
}

void FirmwareUpdate::handleCloseDevice()
{
}

void FirmwareUpdate::handleReOpenDevice(int moduleState)
{
    Q_UNUSED(moduleState)
}

void FirmwareUpdate::forwardDoDirectRequest(Command* request, Command* reply)
{
    Q_UNUSED(request)
    Q_UNUSED(reply)
}

void FirmwareUpdate::forwardDoDirectRequestWithoutAnswer(Command* request)
{
    Q_UNUSED(request)
}

void FirmwareUpdate::handleUSBDevices(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces)
{
    Q_UNUSED(actualInterfaces)
    Q_UNUSED(oldInterfaces)
}

void FirmwareUpdate::on_btnUpdate_clicked()
{
}

void FirmwareUpdate::on_btnCancel_clicked()
{
}

void FirmwareUpdate::handleGetFirmwareVersion(QString* version, int moduleAddress)
{
    Q_UNUSED(version)
    Q_UNUSED(moduleAddress)
}
