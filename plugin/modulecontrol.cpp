#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "bootloadercommands.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareupdaterthread.h"
#include "functionname.h"
#include "global.h"
#include "lowlevel.h"
#include "pluginhandler.h"
#include "pluginsettings.h"
#include "timescale.h"
#include "updateoutcome.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace {
// Modules on these links and of this kind cannot be updated from here.
constexpr const char* ExcludedPortPrefix = "VC";
constexpr const char* ExcludedFirmwareName = "0055";

constexpr const char* DefaultFirmwareDirectory = "/";

// Module states the worker asks the link to be reopened for.
constexpr int BootloaderMode = 0;
constexpr int FirmwareMode = 1;
constexpr int ReadyMode = 2;
// What the host shows for a module once it has been told to enter its bootloader.
constexpr int ModuleStateBootloaderRequested = 4;

// Bootloaders of these module kinds only talk at 111111 baud; every other one at 115200.
const QStringList HighRateModules = {QStringLiteral("2804"), QStringLiteral("2805"), QStringLiteral("3906"),
                                     QStringLiteral("3907")};
constexpr int HighRateBootloaderBaud = 111111;
constexpr int BootloaderBaud = 115200;
constexpr int DefaultSerialBaud = 9600;
constexpr int DefaultOtherLinkRate = 1000;
// The rate the other link kinds are switched to for the bootloader.
constexpr int OtherLinkBootloaderRate = 1000;
constexpr int DefaultModuleAddress = 1;
// A module in its bootloader, or freshly enumerated on USB, answers at this address.
constexpr unsigned char BootloaderAddress = 1;

// Bootloader entry: command 242 with a fixed code in type, bank and value that the firmware checks.
constexpr unsigned char EnterBootloaderCommand = 242;
constexpr unsigned short EnterBootloaderType = 0x47;
constexpr unsigned char EnterBootloaderBank = 0x6E;
constexpr int EnterBootloaderCode = 0x5D2C8B19;

constexpr int RefreshAfterModuleReportMs = 2500;
constexpr int RefreshAfterReconnectMs = 50;
constexpr int CompletionRetryMs = 300;
constexpr int UpdateRecallMs = 5000;
constexpr int PortChangeRecallMs = 750;
constexpr int StartFromBootloaderMs = 500;
constexpr int StartFromFirmwareMs = 5000;

constexpr const char* PortChangeTemplate = "<span style=\"color: gold;\"><br>COM-Port has changed from %1 to %2<br></span>";
constexpr const char* ModuleNoticeTemplate = "<span style=\"color: lightskyblue;\">%1 %2</span>";
constexpr const char* CanceledLine = "<span style=\"color: crimson;\"><br>Canceled by user<br></span>";
constexpr const char* ReadyLine = "<span style=\"color: lime;\"><br>Are you ready?<br></span>";
constexpr const char* RefusedHighRate =
    "Could not set baudrate (111111) needed by this module. Use a serial port that supports this.\n";
constexpr const char* RekeyedAddressPart = "id1";
constexpr const char* CanceledText = "Firmware update canceled.";
// What the completion shows when it could not read the version back.
constexpr const char* NoVersionText = "Error";

bool isUsbLink(int kind)
{
    return kind == DUXLConnectionInterface::Usb;
}

// Link kinds that keep a remembered data rate instead of a baud rate.
bool isOtherLink(int kind)
{
    return kind == 3 || kind == 4 || kind == 5 || kind == 6 || kind == 8;
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
    RememberedLink remembered{defaultRate, DefaultModuleAddress};
    const QString prefix = linkPrefix(connection, module);
    if (prefix.isEmpty())
        return remembered;
    settings.beginGroup(QLatin1String(PluginSettings::Group));
    remembered.dataRate = settings.value(dataRateKey(prefix), defaultRate).toInt();
    remembered.address = settings.value(addressKey(prefix), DefaultModuleAddress).toInt();
    settings.endGroup();
    return remembered;
}

// Keeps a copy of a firmware file that was used in the local pool; a file already there is not replaced.
void copyToLocalPool(const QString& fileName, const QString& poolPath)
{
    // A run that ends after its file was cleared (Cancel rebuilt the list) has nothing to keep.
    if (fileName.isEmpty())
        return;
    const QString pool = QDir::cleanPath(poolPath);
    const QFileInfo file(fileName);
    if (QDir::cleanPath(file.absolutePath()) == pool)
        return;
    // A pool folder removed since the menu last made it is made again, as the menu makes it.
    QDir().mkdir(pool);
    QFile::copy(file.absoluteFilePath(), pool + QLatin1Char('/') + file.fileName());
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
    if (!link.isComplete() || isUsbLink(link.connection->interfaceType()))
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
    if (plugin && isVisible() && plugin->key() == actualModuleKey && updateState == IdleState) {
        QTimer::singleShot(TimeScale::scaledMs(RefreshAfterModuleReportMs), this,
                           &FirmwareUpdate::on_btnRefresh_clicked);
        actualModuleKey.clear();
        handleDebugMessage(QString::fromLatin1(ModuleNoticeTemplate).arg(plugin->name(), msg));
        return;
    }
    if (msg == QLatin1String("deviceTreeReady") && updater)
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
        // Only a USB link is really closed: the module re-enumerates when it restarts.
        if (isUsbLink(link.connection->interfaceType()))
            link.handler->closeDevice();
        updater->setDeviceClosed();
    }
    qDebug() << DUX_FUNCTION << link.connection << link.module << link.handler;
}

void FirmwareUpdate::handleReOpenDevice(int moduleState)
{
    QString modeText;
    QString historyText;
    switch (moduleState) {
    case BootloaderMode:
        modeText = QStringLiteral("to bootloader mode\n");
        break;
    case FirmwareMode:
        modeText = QStringLiteral("to firmware mode\n");
        break;
    case ReadyMode:
        modeText = QStringLiteral("to ready mode\n");
        break;
    default:
        modeText = QStringLiteral("to other mode\n");
        historyText = QStringLiteral("to other mode %1\n").arg(moduleState);
        break;
    }
    qDebug() << DUX_FUNCTION << modeText;
    ui->teHistory->append(historyText.isEmpty() ? modeText : historyText);

    const Link link = lookUpLink(actualModuleKey);
    if (!link.isComplete()) {
        qDebug() << DUX_FUNCTION << "reopen";
        updater->setReopenResult(false);
        return;
    }

    const int kind = link.connection->interfaceType();
    if (kind == DUXLConnectionInterface::Serial) {
        if (moduleState == BootloaderMode) {
            if (HighRateModules.contains(link.module->nameInFirmware())) {
                if (!link.handler->setDataRate(HighRateBootloaderBaud)) {
                    ui->teHistory->append(QLatin1String(RefusedHighRate));
                    updater->setReopenResult(false);
                    return;
                }
            } else {
                link.handler->setDataRate(BootloaderBaud);
            }
            updater->setModuleAddress(BootloaderAddress);
        } else if (moduleState == FirmwareMode) {
            const RememberedLink last =
                readRememberedLink(settings, link.connection, link.module, DefaultSerialBaud);
            qDebug() << DUX_FUNCTION << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
            link.handler->setDataRate(last.dataRate);
            updater->setModuleAddress(static_cast<unsigned char>(last.address & 0xFF));
        }
        updater->setReopenResult(true);
    } else if (isOtherLink(kind)) {
        if (moduleState == BootloaderMode || moduleState == FirmwareMode) {
            const RememberedLink last =
                readRememberedLink(settings, link.connection, link.module, DefaultOtherLinkRate);
            qDebug() << DUX_FUNCTION << moduleState << "lastDataRate:" << last.dataRate << "lastId:" << last.address;
            link.handler->setDataRate(last.dataRate);
            updater->setModuleAddress(static_cast<unsigned char>(last.address & 0xFF));
        }
        updater->setReopenResult(true);
    } else if (isUsbLink(kind)) {
        if (moduleState == ReadyMode) {
            // The module restarts and comes back under a new port; handleUSBDevices takes it from there.
            link.module->setModuleState(ReadyMode);
            ui->teHistory->append(actualModuleKey + QStringLiteral(" Waiting...\n"));
            return;
        }
        qCDebug(debLowLevel) << Q_FUNC_INFO << link.handler->isDeviceOpen() << link.handler->property("dpComPort");
        updater->setReopenResult(link.handler->openDevice());
    }
}

void FirmwareUpdate::handleUSBDevices(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces)
{
    const QStringList oldNames = portNames(oldInterfaces);
    const QStringList actualNames = portNames(actualInterfaces);
    const QStringList addedNames = namesMissingFrom(actualNames, oldNames);
    const QStringList removedNames = namesMissingFrom(oldNames, actualNames);
    qDebug() << DUX_FUNCTION << actualNames << oldNames << removedNames;

    QString message = QLatin1String(PortChangeTemplate);
    // A module switched to or from its bootloader re-enumerates under another port: follow it.
    if (!addedNames.isEmpty() && updateState == UpdatingState) {
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
                             << updateState;
    }
    if (!message.contains(QLatin1Char('%')))
        handleDebugMessage(message);

    // With one module and the file kept, plugging in the next module updates it.
    if (leaveSelection && ui->cmbModules->count() == 1 && removedNames.isEmpty() && updateState == IdleState) {
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

    if (updateState == IdleState) {
        ui->teHistory->clear();
        handleDebugMessage(QStringLiteral("Firmwareupdate started @") + actualModuleKey);
        ui->btnCancel->setEnabled(false);
        ui->btnUpdate->setEnabled(false);
        ui->btnRefresh->setEnabled(false);
        ui->gbNewFirmware->setEnabled(false);
        elapsedTimer.start();
        elapsedTimeTimer.start();
        outcome->begin();
    }

    // A module whose address is unknown to its bootloader still answers at address 1.
    QString version = commandHandler->getFirmwareVersion(link.module->moduleAddress());
    if (version.isEmpty() && link.module->moduleAddress() != BootloaderAddress)
        version = commandHandler->getFirmwareVersion(BootloaderAddress);
    handleDebugMessage(QStringLiteral("Active firmware: (") + version + QLatin1Char(')'));

    const bool inBootloader = isBootloaderVersion(version);
    const int kind = link.connection->interfaceType();
    if (updateState == UpdatingState) {
        if (isUsbLink(kind)) {
            ui->leProgress->setText(QStringLiteral("Reconnected."));
            handleDebugMessage(QStringLiteral("Reconnected."));
            if (!inBootloader) {
                // Back in its firmware after the update: hand the module back to the host.
                QTimer::singleShot(TimeScale::scaledMs(RefreshAfterReconnectMs), this,
                                   &FirmwareUpdate::on_btnRefresh_clicked);
                link.connection->setActive(true);
                link.connection->setEnabled(true);
                link.module->setEnabled(true);
                updateState = IdleState;
                reportOutcome(true, version, actualModuleKey);
            }
        }
    } else if (!inBootloader) {
        const QString entering = QStringLiteral("Enter bootloader mode...");
        ui->leProgress->setText(entering);
        handleDebugMessage(entering);
        outcome->reachPhase(QStringLiteral("entry"));
        bootloaderEntryCommand =
            std::make_unique<Command>(moduleAddress, EnterBootloaderCommand, EnterBootloaderType, EnterBootloaderBank,
                                      EnterBootloaderCode, Bootloader::NoBroadcast, Bootloader::ReplyAddress);
        commandHandler->doDirectRequestWithoutReply(bootloaderEntryCommand.get());
        updateState = UpdatingState;

        if (isUsbLink(kind)) {
            updater->setModuleAddress(BootloaderAddress);
            const QString disconnecting = QStringLiteral("Disconnecting...");
            ui->leProgress->setText(disconnecting);
            handleDebugMessage(disconnecting);
            return;
        }
        QTimer::singleShot(TimeScale::scaledMs(UpdateRecallMs), pendingUpdateSteps(), [this] { on_btnUpdate_clicked(); });
        link.module->setModuleState(ModuleStateBootloaderRequested);
        emit handleFirmwareCompleted(actualModuleKey, QStringLiteral("Start fw update"));
        handleDebugMessage(QStringLiteral("Reopen device..."));
        if (isOtherLink(kind)) {
            commandHandler->setDataRate(OtherLinkBootloaderRate);
            if (version.isEmpty())
                updater->setModuleAddress(BootloaderAddress);
        } else {
            handleReOpenDevice(BootloaderMode);
        }
        return;
    }

    updater->setCommandHandler(commandHandler);
    if (!inBootloader && sender() != ui->btnUpdate)
        return;
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
    if (updateState != IdleState || startWasPending)
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
    ui->btnUpdate->setEnabled(true);
    QString version = QLatin1String(NoVersionText);
    qDebug() << DUX_FUNCTION << "successfull:" << successfull << "actualModuleKey:" << actualModuleKey;
    ui->btnRefresh->setEnabled(true);
    ui->gbNewFirmware->setEnabled(true);
    elapsedTimeTimer.stop();

    const Link link = lookUpLink(actualModuleKey);
    if (link.isComplete()) {
        const bool usb = isUsbLink(link.connection->interfaceType());
        if (!usb) {
            handLinkBack(link);
            QString reportedKey;
            if (successfull) {
                version = link.handler->getFirmwareVersion(link.module->moduleAddress());
                reportedKey = link.module->key();
            }
            emit handleFirmwareCompleted(reportedKey,
                                         successfull ? QStringLiteral("true") : QStringLiteral("false"));
        }
        ui->leActualFirmware->setText(version);
        ui->teHistory->moveCursor(QTextCursor::End);
        ui->teHistory->repaint();
        if (successfull) {
            copyToLocalPool(ui->leFilename->text(), firmwarePoolPath());
            // The module restarts and re-enumerates; on_btnUpdate_clicked finishes when it is back.
            if (usb)
                return;
        }
    } else if (successfull) {
        // The restarted module is not known to the host yet: try again until it is.
        ui->teHistory->insertPlainText(QStringLiteral("*"));
        QTimer::singleShot(TimeScale::scaledMs(CompletionRetryMs), this, SLOT(handleUpdateCompleted()));
        return;
    } else {
        DUXLConnectionInterface* connection =
            pluginHandler()->getConnectionPlugin(pluginHandler()->connectionKey(actualModuleKey));
        if (connection) {
            if (!isUsbLink(connection->interfaceType())) {
                connection->setEnabled(true);
                connection->setActive(true);
            }
        } else if (Global::instance(false)->internal()) {
            qCritical() << "no Connection Plugin";
        }
    }

    // The rebuilt list selects its first module: with several listed, that need not be this one.
    const QString updatedModuleKey = actualModuleKey;
    on_btnRefresh_clicked();
    qDebug() << DUX_FUNCTION << "Elapsed:" << elapsedTimer.restart();
    // The update is over: a re-call still pending (a port that came back while the run ended) would
    // find the module in its bootloader and start a second run with the program the rebuild released.
    dropPendingUpdateSteps();
    updateState = IdleState;
    if (leaveSelection && ui->cmbModules->count() == 1)
        handleDebugMessage(QLatin1String(ReadyLine));
    reportOutcome(successfull, version, updatedModuleKey);
}

void FirmwareUpdate::reportOutcome(bool successful, const QString& version, const QString& moduleKey)
{
    const QString failure = updater->isCancelRequested() ? QLatin1String(CanceledText) : outcome->lastStatus();
    outcome->finish(successful, failure, moduleKey, version == QLatin1String(NoVersionText) ? QString() : version);
}

void FirmwareUpdate::handleUpdateCompleted()
{
    handleUpdateCompleted(true);
}
