#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "duxlmoduleinterface.h"
#include "functionname.h"
#include "lowlevel.h"
#include "modulekey.h"
#include "pluginhandler.h"
#include "timescale.h"
#include "updatesession.h"
#include "workerhost.h"

#include <QDebug>
#include <QTimer>

namespace {
// Modules on these links and of this kind cannot be updated from here.
constexpr const char* ExcludedPortPrefix = "VC";
constexpr const char* ExcludedFirmwareName = "0055";

constexpr const char* DefaultFirmwareDirectory = "/";
constexpr int RefreshAfterModuleReportMs = 2500;

constexpr const char* ModuleNoticeTemplate = "<span style=\"color: lightskyblue;\">%1 %2</span>";
constexpr const char* ReadyLine = "<span style=\"color: lime;\"><br>Are you ready?<br></span>";

bool isOffered(const QString& baseName, DUXLModuleInterface* module)
{
    return !baseName.startsWith(QLatin1String(ExcludedPortPrefix))
           && module->nameInFirmware() != QLatin1String(ExcludedFirmwareName);
}
}

void FirmwareUpdate::on_btnRefresh_clicked()
{
    ui->cmbModules->blockSignals(false);
    ui->cmbModules->clear();
    const QStringList keys = pluginHandler() ? pluginHandler()->getModulePluginKeys(true) : QStringList();
    for (const QString& key : keys) {
        DUXLModuleInterface* module = pluginHandler()->getModulePlugin(key);
        const QString baseName = ModuleKey(key).port();
        if (module && isOffered(baseName, module))
            ui->cmbModules->addItem(QIcon(), key, QVariantList{key, module->name(), baseName});
    }
    ui->btnSelect->setEnabled(ui->cmbModules->count() > 0);
}

void FirmwareUpdate::on_cmbModules_currentIndexChanged(int index)
{
    if (!(leaveSelection && ui->cmbModules->count() <= 1))
        clearFileInfo();
    const QVariantList item = ui->cmbModules->itemData(index).toList();
    const ModuleChoice chosen = session->selectModule(item.size() < 3 ? QString() : item.at(0).toString());
    if (chosen.deviceOpen) {
        ui->leActualFirmware->setText(chosen.version);
        ui->gbNewFirmware->setEnabled(true);
    }
    if (chosen.linkRemembered)
        saveSettings();
    if (!chosen.moduleName.isEmpty())
        firmwareDirectory = settings.firmwareDirectory(chosen.moduleName, QLatin1String(DefaultFirmwareDirectory));
}

void FirmwareUpdate::handleModulePlugin(DUXLModuleInterface* plugin, QString msg)
{
    qCDebug(debLowLevel) << Q_FUNC_INFO << msg << plugin;
    if (plugin && isVisible() && plugin->key() == session->moduleKey() && session->isIdle()) {
        QTimer::singleShot(TimeScale::scaledMs(RefreshAfterModuleReportMs), this,
                           &FirmwareUpdate::on_btnRefresh_clicked);
        session->selectModule(QString());
        handleDebugMessage(QString::fromLatin1(ModuleNoticeTemplate).arg(plugin->name(), msg));
        return;
    }
    if (session->workerHost())
        session->workerHost()->noteHostReport(msg);
}

void FirmwareUpdate::forwardDoDirectRequest(Command* request, Command* reply)
{
    session->workerHost()->forwardRequest(request, reply);
}

void FirmwareUpdate::forwardDoDirectRequestWithoutAnswer(Command* request)
{
    session->workerHost()->forwardRequestWithoutReply(request);
}

void FirmwareUpdate::handleGetFirmwareVersion(QString* version, int moduleAddress)
{
    session->workerHost()->readFirmwareVersion(version, moduleAddress);
}

void FirmwareUpdate::handleCloseDevice()
{
    session->workerHost()->closeDevice();
}

void FirmwareUpdate::handleReOpenDevice(int moduleState)
{
    session->workerHost()->reopenDevice(moduleState);
}

void FirmwareUpdate::handleUSBDevices(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces)
{
    const bool noPortRemoved = session->followPorts(actualInterfaces, oldInterfaces);
    // With one module and the file kept, plugging in the next module updates it.
    if (leaveSelection && ui->cmbModules->count() == 1 && noPortRemoved && session->isIdle()) {
        handleDebugMessage(QStringLiteral("check all cases"));
        on_btnRefresh_clicked();
        on_btnUpdate_clicked();
    }
}

void FirmwareUpdate::on_btnUpdate_clicked()
{
    session->proceed(sender() == ui->btnUpdate);
}

void FirmwareUpdate::on_btnCancel_clicked()
{
    session->cancel();
}

void FirmwareUpdate::handleUpdateCompleted(bool successfull)
{
    session->complete(successfull);
}

void FirmwareUpdate::handleUpdateCompleted()
{
    handleUpdateCompleted(true);
}

void FirmwareUpdate::concludeUpdate()
{
    qDebug() << DUX_FUNCTION << "Elapsed:" << elapsedTimer.restart();
    if (leaveSelection && ui->cmbModules->count() == 1)
        handleDebugMessage(QLatin1String(ReadyLine));
}
