#include "hostrun.h"

#include "appsettings.h"
#include "commandhandlerinterface.h"
#include "console.h"
#include "containerinterface.h"
#include "containerloader.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwarefilecheck.h"
#include "hostmessages.h"
#include "hostwindow.h"
#include "installlayout.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "pluginsettings.h"
#include "portlistfile.h"
#include "progressprinter.h"
#include "serialportdescription.h"
#include "serialcommandhandler.h"
#include "simulatorprocess.h"
#include "updatebatch.h"
#include "updatedriver.h"
#include "updatewatch.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* UpdatePluginClass = "FirmwareUpdate";
constexpr const char* ModuleAddedMessage = HostMessages::DeviceTreeReady;
constexpr const char* ModuleRemovedMessage = "removed";
// The host's pool of firmware files, beside its home folder; the update plug-in keeps copies there.
constexpr const char* FirmwarePoolFolder = PluginSettings::PoolFolder;
constexpr int MsPerSecond = 1000;
// A headless run that found no module looks again this often until its time-out.
constexpr int SearchAgainMs = 1000;
// After a cancel on --timeout, the plug-in has this long to end the update, and the process this
// long to take its objects down: the run ends within a second of the time-out either way.
constexpr int TimeoutCancelWaitMs = 400;
constexpr int TimeoutExitGraceMs = 400;
// After SIGINT or SIGTERM, how long the worker may take to reach a cancel point (a reply time-out),
// and then the process to take its objects down.
constexpr int InterruptCancelWaitMs = 5000;
constexpr int InterruptExitGraceMs = 1000;
// Taking the objects down after any other end: the plug-in joins its worker, the links close.
constexpr int ExitGraceMs = 3000;
constexpr int VerboseHistory = int(HostOptions::Verbosity::Verbose);

// The ports given on the command line and in port lists; none given: the system's own list.
PeripheryManager::PortSource portSource(const HostOptions& options)
{
    if (options.serialPorts.isEmpty() && options.usbPorts.isEmpty() && options.portFiles.isEmpty())
        return nullptr;
    QList<QSerialPortInfo> fixed;
    for (const QString& path : options.serialPorts)
        fixed.append(describeSerialPort(QFileInfo(path).fileName(), path, QLatin1String(PortListFile::SerialDescription)));
    for (const QString& path : options.usbPorts)
        fixed.append(describeSerialPort(QFileInfo(path).fileName(), path, QLatin1String(PortListFile::UsbDescription)));
    const QStringList files = options.portFiles;
    return [fixed, files] {
        QList<QSerialPortInfo> ports = fixed;
        for (const QString& file : files)
            ports.append(PortListFile::read(file));
        return ports;
    };
}

QString linkKindName(int kind)
{
    switch (kind) {
    case DUXLConnectionInterface::Usb:
        return QStringLiteral("USB link");
    case DUXLConnectionInterface::Serial:
        return QStringLiteral("serial link");
    default:
        return QStringLiteral("link of kind %1").arg(kind);
    }
}

// "firmware 1234V101" or "bootloader 1234B101": a bootloader's version holds a b.
QString versionText(const QString& version)
{
    if (version.isEmpty())
        return QStringLiteral("no version read");
    return (version.contains(QLatin1Char('b'), Qt::CaseInsensitive) ? QStringLiteral("bootloader ")
                                                                    : QStringLiteral("firmware "))
        + version;
}

}

HostRun::HostRun(const HostOptions& options, QApplication* app)
    : m_options(options)
    , m_app(app)
    , m_watchdog(
          [this](RunWatchdog::Event event) {
              QMetaObject::invokeMethod(
                  this, event == RunWatchdog::Event::Interrupt ? &HostRun::interrupt : &HostRun::deadlineReached,
                  Qt::QueuedConnection);
          },
          [this](RunWatchdog::Event event) { return tellResultAtOnce(event); })
{
    using std::chrono::milliseconds;
    m_watchdog.setBounds(milliseconds(InterruptCancelWaitMs + InterruptExitGraceMs),
                         milliseconds(TimeoutCancelWaitMs + TimeoutExitGraceMs));
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(SearchAgainMs);
    connect(&m_searchTimer, &QTimer::timeout, this, &HostRun::searchAgain);
    m_endWait.setSingleShot(true);
    connect(&m_endWait, &QTimer::timeout, this, [this] {
        UpdateResult result;
        result.outcome = m_endOutcome;
        result.phase = m_driver->phase();
        result.bytes = m_driver->bytesWritten();
        end(result);
    });
}

HostRun::~HostRun() = default;

int HostRun::exec()
{
    m_clock.start();

    if (!m_options.fileName.isEmpty()) {
        const FirmwareFileCheck file = FirmwareFileCheck::of(m_options.fileName);
        if (!file.warning.isEmpty())
            Console::err() << "dux-host: warning: " << file.warning << Qt::endl;
        if (!file.problem.isEmpty()) {
            end(notStarted(file.problem));
            return m_exitCode;
        }
    }
    QDir().mkpath(AppSettings::homePath() + QLatin1String(FirmwarePoolFolder));
    if (!startLinks())
        return m_exitCode;
    loadPlugins();
    if (m_options.list)
        return listModules();

    m_window = std::make_unique<HostWindow>(m_handler.get(), m_discovery.get(), m_loader->containers());
    if (m_options.fileName.isEmpty()) {
        m_window->show();
        m_app->exec();
        return m_interrupted ? HostOptions::ExitInterrupted : HostOptions::ExitUpdated;
    }
    ContainerInterface* updater = m_loader->containerOfClass(QLatin1String(UpdatePluginClass));
    if (!updater) {
        end(notStarted(QStringLiteral("no \"Firmware update\" plug-in in %1").arg(m_pluginFolder)));
        return m_exitCode;
    }
    if (m_options.updatesSeveral() || m_options.watch)
        return runJob(updater);
    return runUpdate(updater);
}

int HostRun::runJob(ContainerInterface* updater)
{
    // The modules' requests all pass the GUI thread: each waits for its reply in a nested event loop,
    // so that the others' go out meanwhile.
    const auto shareEventLoop = [this](const QString& key) {
        DUXLModuleInterface* module = m_handler->getModulePlugin(key);
        DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
        if (auto* link = qobject_cast<SerialCommandHandler*>(connection ? connection->commandHandler() : nullptr))
            link->setWaitInEventLoop(true);
    };
    for (const QString& key : m_handler->getModulePluginKeys(true))
        shareEventLoop(key);
    // Queued: the discovery still asks the new link's other addresses, and must not wait nested.
    connect(m_handler.get(), &PluginHandler::modulePluginAdded, this, shareEventLoop, Qt::QueuedConnection);

    const UpdateJob::Host host{updater, m_handler.get(), m_discovery.get(), m_window.get()};
    if (m_options.watch) {
        m_job = std::make_unique<UpdateWatch>(m_options, host, FirmwareFileCheck::of(m_options.fileName).identifier);
    } else {
        m_job = std::make_unique<UpdateBatch>(m_options, host);
        m_watchdog.setDeadline(std::chrono::milliseconds(
            qMax<qint64>(0, qint64(m_options.timeoutSeconds) * MsPerSecond - m_clock.elapsed())));
    }
    connect(m_job.get(), &UpdateJob::finished, this, [this](int exitCode) {
        m_ending = true;
        m_exitCode = exitCode;
        m_app->exit(exitCode);
        m_watchdog.ended(std::chrono::milliseconds(m_interrupted ? InterruptExitGraceMs : ExitGraceMs), exitCode);
    });
    m_job->start();
    if (!m_ending)
        m_app->exec();
    return m_exitCode;
}

bool HostRun::startLinks()
{
    HostOptions& options = m_options;
    if (options.simulate) {
        // Its lines are not the result: -q and --json leave them out.
        const bool quiet = options.verbosity == HostOptions::Verbosity::Quiet || options.json;
        m_simulator = std::make_unique<SimulatorProcess>(quiet ? nullptr : &Console::out());
        if (!m_simulator->start(options.simulatorArguments)) {
            end(notStarted(m_simulator->errorString()));
            return false;
        }
        options.portFiles.append(m_simulator->portListFile());
    }
    m_handler = std::make_unique<PluginHandler>();
    m_discovery = std::make_unique<ModuleDiscovery>(m_handler.get());
    m_discovery->setDataRate(options.dataRate);
    m_discovery->setProbeAddresses(options.addresses);
    m_discovery->setProbeTimeoutMs(options.probeTimeoutMs);
    m_discovery->start();
    PeripheryManager* periphery = PeripheryManager::instance();
    periphery->setPortSource(portSource(options));
    periphery->checkActualUSBDevices(false);
    periphery->setPollInterval(options.pollMs);
    return true;
}

void HostRun::loadPlugins()
{
    m_loader = std::make_unique<ContainerLoader>(m_handler.get());
    connect(m_loader.get(), &ContainerLoader::loadFailed, this, [](const QString& file, const QString& reason) {
        Console::err() << "dux-host: plug-in " << file << " not loaded: " << reason << Qt::endl;
    });
    m_pluginFolder = !m_options.pluginFolder.isEmpty()
        ? m_options.pluginFolder
        : InstallLayout::pluginFolder();
    m_loader->loadFolder(m_pluginFolder);

    // The host tells its container plug-ins when a module comes or goes.
    ContainerLoader* loader = m_loader.get();
    connect(m_discovery.get(), &ModuleDiscovery::moduleAdded, loader, [loader](DUXLModuleInterface* module) {
        for (ContainerInterface* container : loader->containers())
            container->handleModulePlugin(module, QLatin1String(ModuleAddedMessage));
    });
    connect(m_discovery.get(), &ModuleDiscovery::moduleRemoved, loader, [loader](DUXLModuleInterface* module) {
        for (ContainerInterface* container : loader->containers())
            container->handleModulePlugin(module, QLatin1String(ModuleRemovedMessage));
    });
}

int HostRun::listModules()
{
    QTextStream& out = Console::out();
    const QStringList keys = m_handler->getModulePluginKeys(true);
    out << keys.size() << (keys.size() == 1 ? " module" : " modules") << Qt::endl;
    for (const QString& key : keys) {
        DUXLModuleInterface* module = m_handler->getModulePlugin(key);
        DUXLConnectionInterface* connection = module->connectionInterface();
        CommandHandlerInterface* link = connection ? connection->commandHandler() : nullptr;
        const QString version = link ? link->getFirmwareVersion(module->moduleAddress()) : QString();
        out << "  " << key << "  port " << key.section(QLatin1Char('/'), 0, 0) << ", type " << module->nameInFirmware()
            << ", address " << module->moduleAddress() << ", " << versionText(version) << ", "
            << (connection ? linkKindName(connection->interfaceType()) : QStringLiteral("no link")) << Qt::endl;
    }
    if (keys.isEmpty())
        Console::err() << "dux-host: " << searchedText() << Qt::endl;
    const QList<ContainerInterface*> containers = m_loader->containers();
    out << containers.size() << (containers.size() == 1 ? " plug-in" : " plug-ins") << Qt::endl;
    for (ContainerInterface* container : containers)
        out << "  " << container->name() << Qt::endl;
    return HostOptions::ExitUpdated;
}

int HostRun::runUpdate(ContainerInterface* updater)
{
    if (!m_options.headless)
        m_window->show();
    m_window->openContainer(updater);

    QTextStream& out = Console::out();
    m_driver = std::make_unique<UpdateDriver>(updater, &out);
    m_driver->setModuleKey(m_options.moduleKeys.value(0));
    m_driver->setFileName(m_options.fileName);
    m_driver->setPrintHistory(int(m_options.verbosity) >= VerboseHistory);
    if (!m_options.screenshotPath.isEmpty())
        m_driver->setScreenshot(m_options.screenshotPath, m_options.screenshotPercent);
    connect(m_driver.get(), &UpdateDriver::ended, this, &HostRun::updateEnded);
    if (m_options.verbosity == HostOptions::Verbosity::Normal && !m_options.json) {
        m_progress = std::make_unique<ProgressPrinter>(&out, Console::outputIsTerminal());
        connect(m_driver.get(), &UpdateDriver::phaseChanged, m_progress.get(), &ProgressPrinter::phaseReached);
        connect(m_driver.get(), &UpdateDriver::progressed, m_progress.get(), &ProgressPrinter::progressed);
    }
    connect(m_driver.get(), &UpdateDriver::phaseChanged, this, &HostRun::noteProgress);
    connect(m_driver.get(), &UpdateDriver::progressed, this, &HostRun::noteProgress);
    m_watchdog.setDeadline(
        std::chrono::milliseconds(qMax<qint64>(0, qint64(m_options.timeoutSeconds) * MsPerSecond - m_clock.elapsed())));
    tryToStart();
    if (m_ending)
        return m_exitCode;
    const int loopResult = m_app->exec();
    return m_options.headless || m_options.exitWhenDone || m_interrupted ? m_exitCode : loopResult;
}

void HostRun::tryToStart()
{
    // The entry phase is reached within the click on Update.
    if (m_progress)
        m_progress->start();
    switch (m_driver->start()) {
    case UpdateDriver::StartResult::Started:
        m_started = true;
        return;
    case UpdateDriver::StartResult::NoModule:
        if (m_options.headless) {
            if (m_searches == 0 && m_options.verbosity != HostOptions::Verbosity::Quiet)
                Console::err() << "dux-host: no module found yet; looking again until the time-out ("
                               << m_options.timeoutSeconds << " s)" << Qt::endl;
            m_searchTimer.start();
            return;
        }
        end(notStarted(searchedText()));
        return;
    case UpdateDriver::StartResult::Refused:
        end(notStarted(m_driver->errorString()));
        return;
    }
}

void HostRun::searchAgain()
{
    ++m_searches;
    m_discovery->rescan();
    tryToStart();
}

QString HostRun::searchedText() const
{
    const QStringList ports = m_discovery->portNames();
    if (ports.isEmpty())
        return QStringLiteral("no module found: no serial port found (give --port, --usb-port or --port-file)");
    QStringList addresses;
    for (unsigned char address : m_discovery->probeAddresses())
        addresses.append(QString::number(address));
    return QStringLiteral("no module found on %1 at %2 baud, addresses %3, waiting %4 ms for each (searched %5 %6 in %7 s)")
        .arg(ports.join(QStringLiteral(", ")))
        .arg(m_discovery->dataRate())
        .arg(addresses.join(QStringLiteral(", ")))
        .arg(m_discovery->probeTimeoutMs())
        .arg(m_searches + 1)
        .arg(m_searches == 0 ? QStringLiteral("time") : QStringLiteral("times"))
        .arg(m_clock.elapsed() / MsPerSecond);
}

void HostRun::deadlineReached()
{
    if (m_job) {
        m_job->deadlineReached();
        return;
    }
    if (m_started)
        cancelAndEnd(UpdateResult::Outcome::TimedOut);
    else
        end(notStarted(searchedText()));
}

void HostRun::interrupt()
{
    m_interrupted = true;
    if (m_job) {
        m_job->interrupt();
        return;
    }
    if (!m_driver) {
        m_app->exit(HostOptions::ExitInterrupted);
        return;
    }
    if (m_started) {
        cancelAndEnd(UpdateResult::Outcome::Interrupted);
        return;
    }
    UpdateResult result = notStarted(QStringLiteral("interrupted before the update started"));
    result.outcome = UpdateResult::Outcome::Interrupted;
    end(result);
}

void HostRun::cancelAndEnd(UpdateResult::Outcome outcome)
{
    if (m_ending || m_endWait.isActive())
        return;
    m_endOutcome = outcome;
    m_endWait.start(outcome == UpdateResult::Outcome::TimedOut ? TimeoutCancelWaitMs : InterruptCancelWaitMs);
    m_driver->cancel();
}

void HostRun::updateEnded(const UpdateResult& result)
{
    UpdateResult told = result;
    if (m_endWait.isActive() && told.outcome != UpdateResult::Outcome::Updated)
        told.outcome = m_endOutcome;
    end(told);
}

void HostRun::noteProgress()
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot.moduleKey = m_driver->moduleKey();
    m_snapshot.port = m_snapshot.moduleKey.section(QLatin1Char('/'), 0, 0);
    m_snapshot.fileName = m_options.fileName;
    m_snapshot.identifier = m_driver->fileVersion();
    m_snapshot.phase = m_driver->phase();
    m_snapshot.bytes = m_driver->bytesWritten();
    m_snapshot.elapsedMs = m_clock.elapsed();
}

int HostRun::tellResultAtOnce(RunWatchdog::Event event)
{
    if (m_job) {
        const bool interruptedJob = event == RunWatchdog::Event::Interrupt;
        const QByteArray line = interruptedJob ? "dux-host: interrupted; a module did not answer the cancel in time\n"
                                               : "dux-host: timed out; a module did not answer the cancel in time\n";
        if (::write(Console::errorDescriptor(), line.constData(), size_t(line.size())) < 0)
            std::perror("dux-host");
        return interruptedJob ? HostOptions::ExitInterrupted : HostOptions::ExitUpdateFailed;
    }
    UpdateResult result;
    {
        std::lock_guard<std::mutex> lock(m_snapshotMutex);
        result = m_snapshot;
    }
    const bool interrupted = event == RunWatchdog::Event::Interrupt;
    result.outcome = interrupted ? UpdateResult::Outcome::Interrupted : UpdateResult::Outcome::TimedOut;
    result.timeoutSeconds = m_options.timeoutSeconds;
    result.failureText = interrupted ? QStringLiteral("interrupted; the module did not answer the cancel in time")
                                     : QStringLiteral("timed out after %1 s").arg(m_options.timeoutSeconds);
    // The progress line may be half written; with --json stdout carries the JSON object alone.
    const QByteArray line = (m_progress && Console::outputIsTerminal() ? "\n" : "") + result.closingLine().toLocal8Bit() + '\n';
    if (m_options.json) {
        std::fputs((QJsonDocument(result.toJson()).toJson(QJsonDocument::Compact) + '\n').constData(), stdout);
        if (::write(Console::errorDescriptor(), line.constData(), size_t(line.size())) < 0)
            std::perror("dux-host");
    } else {
        std::fputs(line.constData(), stdout);
    }
    return result.exitCode();
}

UpdateResult HostRun::notStarted(const QString& reason) const
{
    UpdateResult result;
    result.outcome = UpdateResult::Outcome::NotStarted;
    result.failureText = reason;
    result.moduleKey = m_options.moduleKeys.value(0);
    result.fileName = m_options.fileName;
    return result;
}

void HostRun::end(const UpdateResult& result)
{
    if (m_ending)
        return;
    m_ending = true;
    m_searchTimer.stop();
    m_endWait.stop();
    UpdateResult told = result;
    if (m_driver) {
        if (told.moduleKey.isEmpty())
            told.moduleKey = m_driver->moduleKey();
        told.fileName = m_options.fileName;
        told.identifier = m_driver->fileVersion();
        told.port = told.moduleKey.section(QLatin1Char('/'), 0, 0);
    }
    told.timeoutSeconds = m_options.timeoutSeconds;
    if (told.outcome == UpdateResult::Outcome::TimedOut)
        told.failureText = QStringLiteral("timed out after %1 s").arg(m_options.timeoutSeconds);
    else if (told.outcome == UpdateResult::Outcome::Interrupted && told.failureText.isEmpty())
        told.failureText = QStringLiteral("interrupted");
    if (m_progress)
        m_progress->finish();
    // With --json, stdout carries the JSON object alone.
    if (told.outcome == UpdateResult::Outcome::NotStarted || m_options.json)
        Console::err() << told.closingLine() << Qt::endl;
    else
        Console::out() << told.closingLine() << Qt::endl;
    if (m_options.json)
        Console::out() << QJsonDocument(told.toJson()).toJson(QJsonDocument::Compact) << Qt::endl;
    m_exitCode = told.exitCode();
    if (!m_options.headless && !m_options.exitWhenDone && !m_interrupted)
        return;
    m_app->exit(m_exitCode);
    // A worker still inside a request keeps the plug-in from going down at once; the result is out.
    m_watchdog.ended(std::chrono::milliseconds(told.outcome == UpdateResult::Outcome::TimedOut ? TimeoutExitGraceMs
                                               : told.outcome == UpdateResult::Outcome::Interrupted
                                                   ? InterruptExitGraceMs
                                                   : ExitGraceMs),
                     m_exitCode);
}
