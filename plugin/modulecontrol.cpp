#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "command.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwarematch.h"
#include "firmwarepool.h"
#include "firmwareupdaterthread.h"
#include "functionname.h"
#include "global.h"
#include "linkpolicy.h"
#include "lowlevel.h"
#include "pluginhandler.h"
#include "pluginsettings.h"
#include "protocolfacts.h"
#include "timescale.h"
#include "updateoutcome.h"
#include "updatephase.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>


namespace {
// Modules on these links and of this kind cannot be updated from here.
constexpr const char* ExcludedPortPrefix = "VC";
constexpr const char* ExcludedFirmwareName = "0055";

constexpr const char* DefaultFirmwareDirectory = "/";

constexpr int RefreshAfterModuleReportMs = 2500;
constexpr int RefreshAfterReconnectMs = 50;
constexpr int CompletionRetryMs = 300;
constexpr int UpdateRecallMs = 5000;
constexpr int PortChangeRecallMs = 750;
constexpr int StartFromBootloaderMs = 500;
constexpr int StartFromFirmwareMs = 5000;

constexpr const char* PortChangeTemplate = "<span style=\"color: gold;\"><br>COM-Port has changed from %1 to %2<br></span>";
constexpr const char* UnfollowedPortTemplate =
    "<span style=\"color: gold;\"><br>Port %1 appeared during the update and is ignored: only a module on a USB link "
    "comes back under a new port; the update stays on %2.<br></span>";
constexpr const char* NoFirmwareText = "No firmware loaded: choose a HEX file first.";
constexpr const char* ModuleNoticeTemplate = "<span style=\"color: lightskyblue;\">%1 %2</span>";
constexpr const char* CanceledLine = "<span style=\"color: crimson;\"><br>Canceled by user<br></span>";
constexpr const char* ReadyLine = "<span style=\"color: lime;\"><br>Are you ready?<br></span>";
constexpr const char* RefusedHighRate =
    "Could not set baudrate (111111) needed by this module. Use a serial port that supports this.\n";
constexpr const char* RekeyedAddressPart = "id1";
constexpr const char* CanceledText = "Firmware update canceled.";
// What the completion shows when it could not read the version back.
constexpr const char* NoVersionText = "Error";
// The reopen's helpers write their lines under the name of the slot they serve.
constexpr const char* ReopenFunction = "FirmwareUpdate::handleReOpenDevice()";

using Protocol::ModuleState;

// What a reopen announces: the mode in the debug line and in the history, where another mode is
// named by its number.
struct ReopenAnnouncement
{
    QString debugText;
    QString historyText;
};

ReopenAnnouncement announceReopen(int moduleState)
{
    switch (static_cast<ModuleState>(moduleState)) {
    case ModuleState::Bootloader:
        return {QStringLiteral("to bootloader mode\n"), QStringLiteral("to bootloader mode\n")};
    case ModuleState::Firmware:
        return {QStringLiteral("to firmware mode\n"), QStringLiteral("to firmware mode\n")};
    case ModuleState::Ready:
        return {QStringLiteral("to ready mode\n"), QStringLiteral("to ready mode\n")};
    default:
        return {QStringLiteral("to other mode\n"), QStringLiteral("to other mode %1\n").arg(moduleState)};
    }
}

// Bootloaders answer with a "b" in their version text, firmware with a "v".
bool isBootloaderVersion(const QString& version)
{
    return version.toLower().contains(QLatin1Char('b'));
}

// "<port part of the connection key>_<module name>", empty when the connection key has no port part.
QString linkPrefix(DUXLConnectionInterface* connection, DUXLModuleInterface* module)
{
    const QString port = connection->key().section(QLatin1Char('/'), 0, 0);
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

// The data rate and module address last used on a module's link, as the module selection stored them.
struct RememberedLink
{
    int dataRate;
    int address;
};

RememberedLink readRememberedLink(QSettings& settings, DUXLConnectionInterface* connection,
                                  DUXLModuleInterface* module, int defaultRate)
{
    RememberedLink remembered{defaultRate, LinkPolicy::BootloaderAddress};
    const QString prefix = linkPrefix(connection, module);
    if (prefix.isEmpty())
        return remembered;
    settings.beginGroup(QLatin1String(PluginSettings::Group));
    remembered.dataRate = settings.value(dataRateKey(prefix), defaultRate).toInt();
    remembered.address = settings.value(addressKey(prefix), int(LinkPolicy::BootloaderAddress)).toInt();
    settings.endGroup();
    return remembered;
}

QStringList portNames(const QList<QSerialPortInfo>& ports)
{
    QStringList names;
    for (const QSerialPortInfo& port : ports)
        names.append(port.portName());
    return names;
}

QStringList namesMissingFrom(const QStringList& names, const QStringList& others)
{
    QStringList missing;
    for (const QString& name : names) {
        if (!others.contains(name))
            missing.append(name);
    }
    return missing;
}
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

void FirmwareUpdate::handLinkBack(const Link& link)
{
    if (!link.isComplete() || !LinkPolicy::forKind(link.connection->interfaceType()).handsLinkBack())
        return;
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    link.connection->setActive(true);
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
    if (!(leaveSelection && ui->cmbModules->count() <= 1))
        clearFileInfo();
    actualModuleKey.clear();

    const QVariantList item = ui->cmbModules->itemData(index).toList();
    if (item.size() < 3)
        return;
    actualModuleKey = item.at(0).toString();

    const Link link = lookUpLink(actualModuleKey);
    if (!link.isComplete())
        return;
    moduleAddress = link.module->moduleAddress();

    if (link.handler->isDeviceOpen()) {
        const QString version = link.handler->getFirmwareVersion(link.module->moduleAddress());
        qDebug() << DUX_FUNCTION << "firmware version:" << version;
        ui->leActualFirmware->setText(version);
        ui->gbNewFirmware->setEnabled(true);
        // Only a module running its firmware tells the rate and address it is used with.
        if (version.toLower().contains(QLatin1Char('v'))) {
            const QString prefix = linkPrefix(link.connection, link.module);
            if (!prefix.isEmpty()) {
                settings.beginGroup(QLatin1String(PluginSettings::Group));
                settings.setValue(dataRateKey(prefix), link.handler->dataRate());
                settings.setValue(addressKey(prefix), int(link.module->moduleAddress()));
                settings.endGroup();
                saveSettings();
            }
        }
    } else {
        qDebug() << DUX_FUNCTION << "device not open!";
    }

    settings.beginGroup(QLatin1String(PluginSettings::Group));
    firmwareDirectory = settings.value(link.module->moduleName() + QLatin1String(PluginSettings::DirectorySuffix),
                                       QLatin1String(DefaultFirmwareDirectory))
                            .toString();
    settings.endGroup();
}

void FirmwareUpdate::handleModulePlugin(DUXLModuleInterface* plugin, QString msg)
{
    qCDebug(debLowLevel) << Q_FUNC_INFO << msg << plugin;
    if (plugin && isVisible() && plugin->key() == actualModuleKey && updateState == UpdateState::Idle) {
        QTimer::singleShot(TimeScale::scaledMs(RefreshAfterModuleReportMs), this,
                           &FirmwareUpdate::on_btnRefresh_clicked);
        actualModuleKey.clear();
        handleDebugMessage(QString::fromLatin1(ModuleNoticeTemplate).arg(plugin->name(), msg));
        return;
    }
    if (msg == QLatin1String(Protocol::DeviceTreeReady) && updater)
        updater->setDeviceClosed();
}

void FirmwareUpdate::forwardDoDirectRequest(Command* request, Command* reply)
{
    if (!commandHandler)
        return;
    // The erase runs long; the inverted bar tells the user the module is busy, not hanging.
    if (request->command() == Bootloader::EraseCommand) {
        ui->pbProcess->setInvertedAppearance(true);
        // The erase keeps the event loop going, in which the host may destroy this widget.
        const QPointer<FirmwareUpdate> alive(this);
        inWorkerRequest = true;
        commandHandler->doDirectRequest(request, reply);
        if (!alive)
            return;
        inWorkerRequest = false;
        ui->pbProcess->setInvertedAppearance(false);
        return;
    }
    commandHandler->doDirectRequest(request, reply);
}

void FirmwareUpdate::forwardDoDirectRequestWithoutAnswer(Command* request)
{
    if (commandHandler)
        commandHandler->doDirectRequestWithoutReply(request);
}

void FirmwareUpdate::handleGetFirmwareVersion(QString* version, int moduleAddress)
{
    if (commandHandler)
        *version = commandHandler->getFirmwareVersion(static_cast<unsigned char>(moduleAddress & 0xFF));
    // The worker has reached the module: from now on it can be cancelled safely.
    ui->btnCancel->setEnabled(true);
}

void FirmwareUpdate::handleCloseDevice()
{
    const Link link = lookUpLink(actualModuleKey);
    if (link.isComplete()) {
        // Only a link whose module re-enumerates when it restarts is really closed.
        if (LinkPolicy::forKind(link.connection->interfaceType()).reenumerates)
            link.handler->closeDevice();
        updater->setDeviceClosed();
    }
    qDebug() << DUX_FUNCTION << link.connection << link.module << link.handler;
}

void FirmwareUpdate::handleReOpenDevice(int moduleState)
{
    const ReopenAnnouncement announced = announceReopen(moduleState);
    qDebug() << DUX_FUNCTION << announced.debugText;
    ui->teHistory->append(announced.historyText);

    const Link link = lookUpLink(actualModuleKey);
    if (!link.isComplete()) {
        qDebug() << DUX_FUNCTION << "reopen";
        updater->setReopenResult(false);
        return;
    }

    const LinkPolicy policy = LinkPolicy::forKind(link.connection->interfaceType());
    const auto state = static_cast<ModuleState>(moduleState);
    switch (policy.reopen) {
    case LinkPolicy::Reopen::BootloaderBaud:
        if (state == ModuleState::Bootloader)
            switchToBootloaderBaud(link);
        else if (state == ModuleState::Firmware)
            useRememberedLink(link, policy, moduleState);
        else
            updater->setReopenResult(true);
        return;
    case LinkPolicy::Reopen::RememberedRate:
        if (state == ModuleState::Bootloader || state == ModuleState::Firmware)
            useRememberedLink(link, policy, moduleState);
        else
            updater->setReopenResult(true);
        return;
    case LinkPolicy::Reopen::OpenDevice:
        if (state == ModuleState::Ready) {
            // The module restarts and comes back under a new port; handleUSBDevices takes it from there.
            link.module->setModuleState(moduleState);
            ui->teHistory->append(actualModuleKey + QStringLiteral(" Waiting...\n"));
            return;
        }
        qCDebug(debLowLevel) << Q_FUNC_INFO << link.handler->isDeviceOpen() << link.handler->property("dpComPort");
        updater->setReopenResult(link.handler->openDevice());
        return;
    case LinkPolicy::Reopen::None:
        return;
    }
}

void FirmwareUpdate::switchToBootloaderBaud(const Link& link)
{
    const LinkPolicy::BootloaderBaudRate rate = LinkPolicy::bootloaderBaud(link.module->nameInFirmware());
    if (!link.handler->setDataRate(rate.baud) && rate.mustBeAccepted) {
        ui->teHistory->append(QLatin1String(RefusedHighRate));
        updater->setReopenResult(false);
        return;
    }
    updater->setModuleAddress(LinkPolicy::BootloaderAddress);
    updater->setReopenResult(true);
}

void FirmwareUpdate::useRememberedLink(const Link& link, const LinkPolicy& policy, int moduleState)
{
    const RememberedLink last = readRememberedLink(settings, link.connection, link.module, policy.defaultDataRate);
    // A serial link is only ever told its firmware rate here; other links name the mode.
    if (policy.reopen == LinkPolicy::Reopen::BootloaderBaud)
        qDebug() << ReopenFunction << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
    else
        qDebug() << ReopenFunction << moduleState << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
    link.handler->setDataRate(last.dataRate);
    updater->setModuleAddress(static_cast<unsigned char>(last.address & 0xFF));
    updater->setReopenResult(true);
}

void FirmwareUpdate::handleUSBDevices(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces)
{
    const QStringList oldNames = portNames(oldInterfaces);
    const QStringList actualNames = portNames(actualInterfaces);
    const QStringList addedNames = namesMissingFrom(actualNames, oldNames);
    const QStringList removedNames = namesMissingFrom(oldNames, actualNames);
    qDebug() << DUX_FUNCTION << actualNames << oldNames << removedNames;

    QString message = QLatin1String(PortChangeTemplate);
    const bool portAppearedInUpdate = !addedNames.isEmpty() && updateState == UpdateState::Updating;
    // On other links a new port is another device (a USB stick, an adapter): taking it would lose the module.
    if (portAppearedInUpdate && !LinkPolicy::forKind(updateLinkKind).followsPortChange()) {
        handleDebugMessage(QString::fromLatin1(UnfollowedPortTemplate)
                               .arg(addedNames.join(QStringLiteral(", ")).toHtmlEscaped(),
                                    actualModuleKey.section(QLatin1Char('/'), 0, 0).toHtmlEscaped()));
    } else if (portAppearedInUpdate) {
        // A module switched to or from its bootloader re-enumerates under another port: follow it.
        const QString newPort = addedNames.first();
        if (!actualModuleKey.startsWith(newPort)) {
            QStringList parts = actualModuleKey.split(QLatin1Char('/'), Qt::KeepEmptyParts);
            const QString oldPort = parts.takeFirst();
            parts.prepend(newPort);
            // A re-enumerated module answers at address 1; a short key gets the missing parts so
            // that it names the module the host registers after rediscovery.
            while (parts.size() < 3)
                parts.append(QString());
            parts[2] = QLatin1String(RekeyedAddressPart);
            actualModuleKey = parts.join(QLatin1Char('/'));
            message = message.arg(oldPort, newPort);
        }
        QTimer::singleShot(TimeScale::scaledMs(PortChangeRecallMs), pendingUpdateSteps(),
                           [this] { on_btnUpdate_clicked(); });
        qCDebug(debLowLevel) << Q_FUNC_INFO << addedNames << actualModuleKey << "\r\n" << elapsedTimeTimer.isActive()
                             << int(updateState);
    }
    if (!message.contains(QLatin1Char('%')))
        handleDebugMessage(message);

    // With one module and the file kept, plugging in the next module updates it.
    if (leaveSelection && ui->cmbModules->count() == 1 && removedNames.isEmpty() && updateState == UpdateState::Idle) {
        handleDebugMessage(QStringLiteral("check all cases"));
        on_btnRefresh_clicked();
        on_btnUpdate_clicked();
    }
}

void FirmwareUpdate::on_btnUpdate_clicked()
{
    commandHandler = nullptr;
    const Link link = lookUpLink(actualModuleKey);
    if (!link.isComplete())
        return;

    commandHandler = link.handler;
    link.connection->setActive(false);
    link.connection->setEnabled(false);
    link.module->setEnabled(false);

    // Three situations: the first click of an update, a re-call while the module switches modes (a
    // timer, a port change), and the start of the worker once the module is in its bootloader.
    if (updateState == UpdateState::Idle)
        beginUpdate();
    const QString version = readActiveFirmware(link);
    const bool inBootloader = isBootloaderVersion(version);
    const LinkPolicy policy = LinkPolicy::forKind(link.connection->interfaceType());
    if (updateState == UpdateState::Idle)
        outcome->describe({actualModuleKey, ui->leFilename->text(), image.identifier(), quint32(image.checksum()),
                           image.size(), policy.kind, version});
    if (updateState == UpdateState::Updating) {
        if (policy.followsPortChange())
            continueAfterPortChange(link, version);
    } else {
        const QString refusal = refusalBeforeEntry(version);
        if (!refusal.isEmpty()) {
            refuseUpdate(refusal);
            return;
        }
        updateLinkKind = policy.kind;
        if (!inBootloader) {
            enterBootloader(link, policy, version);
            return;
        }
    }

    updater->setCommandHandler(commandHandler);
    updater->setLinkKind(policy.kind);
    if (!inBootloader && sender() != ui->btnUpdate)
        return;
    scheduleWorkerStart(inBootloader);
}

void FirmwareUpdate::beginUpdate()
{
    ui->teHistory->clear();
    handleDebugMessage(QStringLiteral("Firmwareupdate started @") + actualModuleKey);
    reportUnsavedSettings();
    ui->btnCancel->setEnabled(false);
    ui->btnUpdate->setEnabled(false);
    ui->btnRefresh->setEnabled(false);
    ui->gbNewFirmware->setEnabled(false);
    elapsedTimer.start();
    elapsedTimeTimer.start();
    outcome->begin();
}

QString FirmwareUpdate::readActiveFirmware(const Link& link)
{
    // A module whose address is unknown to its bootloader still answers at address 1.
    QString version = commandHandler->getFirmwareVersion(link.module->moduleAddress());
    if (version.isEmpty() && link.module->moduleAddress() != LinkPolicy::BootloaderAddress)
        version = commandHandler->getFirmwareVersion(LinkPolicy::BootloaderAddress);
    tellUser(QStringLiteral("Active firmware: (") + FirmwareMatch::printable(version) + QLatin1Char(')'));
    return version;
}

QString FirmwareUpdate::refusalBeforeEntry(const QString& version) const
{
    if (image.size() == 0) {
        return image.problem().isEmpty() ? QLatin1String(NoFirmwareText)
                                         : QStringLiteral("No firmware loaded: %1.").arg(image.problem());
    }
    if (!image.problem().isEmpty())
        return QStringLiteral("%1; it is not written.").arg(image.problem());
    // A module in its bootloader is checked by the worker, which reads the bootloader's own answer.
    if (!version.isEmpty() && !isBootloaderVersion(version) && !FirmwareMatch::suits(version, image.identifier()))
        return FirmwareMatch::verdict(version, image.identifier(), false);
    return QString();
}

void FirmwareUpdate::refuseUpdate(const QString& reason)
{
    ui->leProgress->setText(reason);
    tellUser(reason);
    outcome->noteStatus(reason);
    // Ends like a run that failed: the click that began it returns first.
    QTimer::singleShot(0, pendingUpdateSteps(), [this] { handleUpdateCompleted(false); });
}

void FirmwareUpdate::continueAfterPortChange(const Link& link, const QString& version)
{
    ui->leProgress->setText(QStringLiteral("Reconnected."));
    handleDebugMessage(QStringLiteral("Reconnected."));
    if (isBootloaderVersion(version))
        return;
    // Back in its firmware after the update: hand the module back to the host.
    QTimer::singleShot(TimeScale::scaledMs(RefreshAfterReconnectMs), this, &FirmwareUpdate::on_btnRefresh_clicked);
    link.connection->setActive(true);
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    updateState = UpdateState::Idle;
    reportOutcome(true, version, actualModuleKey);
}

void FirmwareUpdate::enterBootloader(const Link& link, const LinkPolicy& policy, const QString& version)
{
    const QString entering = QStringLiteral("Enter bootloader mode...");
    ui->leProgress->setText(entering);
    handleDebugMessage(entering);
    outcome->reachPhase(UpdatePhase::Entry);
    bootloaderEntry.send(commandHandler, moduleAddress);
    updateState = UpdateState::Updating;

    if (policy.followsPortChange()) {
        // The module restarts under another port; handleUSBDevices calls this slot again.
        updater->setModuleAddress(LinkPolicy::BootloaderAddress);
        const QString disconnecting = QStringLiteral("Disconnecting...");
        ui->leProgress->setText(disconnecting);
        handleDebugMessage(disconnecting);
        return;
    }
    QTimer::singleShot(TimeScale::scaledMs(UpdateRecallMs), pendingUpdateSteps(), [this] { on_btnUpdate_clicked(); });
    link.module->setModuleState(int(ModuleState::BootloaderRequested));
    emit handleFirmwareCompleted(actualModuleKey, QStringLiteral("Start fw update"));
    handleDebugMessage(QStringLiteral("Reopen device..."));
    if (policy.entryDataRate > 0) {
        commandHandler->setDataRate(policy.entryDataRate);
        if (version.isEmpty())
            updater->setModuleAddress(LinkPolicy::BootloaderAddress);
    } else {
        handleReOpenDevice(int(ModuleState::Bootloader));
    }
}

void FirmwareUpdate::scheduleWorkerStart(bool inBootloader)
{
    workerStartPending = true;
    QTimer::singleShot(TimeScale::scaledMs(inBootloader ? StartFromBootloaderMs : StartFromFirmwareMs),
                       pendingUpdateSteps(), [this] {
                           workerStartPending = false;
                           updater->start();
                       });
    ui->pbProcess->setRange(0, 0);
    // Until the next rebuild of the list, so that the selection cannot change under the running update.
    ui->cmbModules->blockSignals(true);
}

void FirmwareUpdate::on_btnCancel_clicked()
{
    handleDebugMessage(QLatin1String(CanceledLine));
    ui->btnCancel->setEnabled(false);
    updater->cancelUpdate();
    // A cancelled update must not go on by itself: drop its re-calls and a worker start that has not
    // happened yet (the run would clear the request when it begins). Without a worker to report the
    // end, the completion is ours to give.
    const bool startWasPending = workerStartPending;
    dropPendingUpdateSteps();
    if (updateState != UpdateState::Idle || startWasPending)
        handleUpdateCompleted(false);
}

QObject* FirmwareUpdate::pendingUpdateSteps()
{
    if (!pendingSteps)
        pendingSteps = new QObject(this);
    return pendingSteps;
}

void FirmwareUpdate::dropPendingUpdateSteps()
{
    delete pendingSteps;
    pendingSteps = nullptr;
    workerStartPending = false;
}

void FirmwareUpdate::handleUpdateCompleted(bool successfull)
{
    if (!successfull && updater->isCancelRequested()) {
        const QString canceled = QLatin1String(CanceledText);
        ui->leProgress->setText(canceled);
        handleDebugMessage(canceled);
    }
    ui->pbProcess->setRange(1, 99);
    ui->pbProcess->setValue(0);
    ui->btnCancel->setEnabled(false);
    ui->btnUpdate->setEnabled(image.size() > 0);
    QString version = QLatin1String(NoVersionText);
    qDebug() << DUX_FUNCTION << "successfull:" << successfull << "actualModuleKey:" << actualModuleKey;
    ui->btnRefresh->setEnabled(true);
    ui->gbNewFirmware->setEnabled(true);
    elapsedTimeTimer.stop();

    const Link link = lookUpLink(actualModuleKey);
    if (link.isComplete()) {
        const LinkPolicy policy = LinkPolicy::forKind(link.connection->interfaceType());
        if (policy.handsLinkBack())
            version = handBackAndReport(link, successfull);
        ui->leActualFirmware->setText(version);
        ui->teHistory->moveCursor(QTextCursor::End);
        ui->teHistory->repaint();
        if (successfull) {
            const QString poolNote = FirmwarePool(settings.homePath()).keepCopy(ui->leFilename->text());
            if (!poolNote.isEmpty())
                tellUser(poolNote);
            // The module restarts and re-enumerates; on_btnUpdate_clicked finishes when it is back.
            if (policy.followsPortChange())
                return;
        }
    } else if (successfull) {
        // The restarted module is not known to the host yet: try again until it is.
        ui->teHistory->insertPlainText(QStringLiteral("*"));
        QTimer::singleShot(TimeScale::scaledMs(CompletionRetryMs), this,
                           qOverload<>(&FirmwareUpdate::handleUpdateCompleted));
        return;
    } else {
        handConnectionBack();
    }

    // The rebuilt list selects its first module: with several listed, that need not be this one.
    const QString updatedModuleKey = actualModuleKey;
    on_btnRefresh_clicked();
    qDebug() << DUX_FUNCTION << "Elapsed:" << elapsedTimer.restart();
    // The update is over: a re-call still pending (a port that came back while the run ended) would
    // find the module in its bootloader and start a second run with the program the rebuild released.
    dropPendingUpdateSteps();
    updateState = UpdateState::Idle;
    if (leaveSelection && ui->cmbModules->count() == 1)
        handleDebugMessage(QLatin1String(ReadyLine));
    reportOutcome(successfull, version, updatedModuleKey);
}

QString FirmwareUpdate::handBackAndReport(const Link& link, bool successful)
{
    handLinkBack(link);
    QString version = QLatin1String(NoVersionText);
    QString reportedKey;
    if (successful) {
        version = link.handler->getFirmwareVersion(link.module->moduleAddress());
        reportedKey = link.module->key();
    }
    emit handleFirmwareCompleted(reportedKey, successful ? QStringLiteral("true") : QStringLiteral("false"));
    return version;
}

void FirmwareUpdate::handConnectionBack()
{
    DUXLConnectionInterface* connection =
        pluginHandler()->getConnectionPlugin(pluginHandler()->connectionKey(actualModuleKey));
    if (connection) {
        if (LinkPolicy::forKind(connection->interfaceType()).handsLinkBack()) {
            connection->setEnabled(true);
            connection->setActive(true);
        }
    } else if (Global::instance(false)->internal()) {
        qCritical() << "no Connection Plugin";
    }
}

void FirmwareUpdate::reportOutcome(bool successful, const QString& version, const QString& moduleKey)
{
    const bool cancelled = updater->isCancelRequested();
    const QString failure = cancelled ? QString(QLatin1String(CanceledText)) : outcome->lastStatus();
    const QString readBack = version == QLatin1String(NoVersionText) ? QString() : version;
    outcome->finish(successful, failure, moduleKey, readBack, cancelled);
}

void FirmwareUpdate::handleUpdateCompleted()
{
    handleUpdateCompleted(true);
}
