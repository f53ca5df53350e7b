#include "hostrun.h"

#include "moduleclash.h"
#include "nestedwaits.h"
#include "station.h"
#include "stationview.h"

#include "appsettings.h"
#include "commandhandlerinterface.h"
#include "console.h"
#include "containerinterface.h"
#include "containerloader.h"
#include "duxlconnectioninterface.h"
#include "linkkindrules.h"
#include "duxlmoduleinterface.h"
#include "endedupdate.h"
#include "firmwarefilecheck.h"
#include "hostmessages.h"
#include "hostwindow.h"
#include "installlayout.h"
#include "modulediscovery.h"
#include "modulekey.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "pluginsettings.h"
#include "portlistfile.h"
#include "runrecorder.h"
#include "recordwriter.h"
#include "runteller.h"
#include "serialportdescription.h"
#include "simulatorprocess.h"
#include "updaterun.h"
#include "updatesummary.h"
#include "versiontext.h"
#include "visibletext.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* ModuleAddedMessage = HostMessages::DeviceTreeReady;
constexpr const char* ModuleRemovedMessage = "removed";
// The host's pool of firmware files, beside its home folder; the update plug-in keeps copies there.
constexpr const char* FirmwarePoolFolder = PluginSettings::PoolFolder;
constexpr int MsPerSecond = 1000;
// After the cancel waits of the run (UpdateRun), the process has this long to take its objects down:
// the run ends within a second of the time-out either way.
constexpr int TimeoutExitGraceMs = 400;
constexpr int InterruptExitGraceMs = 1000;
// Taking the objects down after any other end: the plug-in joins its worker, the links close.
constexpr int ExitGraceMs = 3000;
constexpr int ListAddressColumn = 3;
// How long a process that ends at once waits for each cut-short update's record: a local file takes
// milliseconds; a slow server would hold up the end, and the record is left as interrupted.
constexpr int CutShortRecordWaitMs = 200;

// The ports given on the command line and in port lists; none given: the system's own list.
PeripheryManager::PortSource portSource(const HostOptions& options)
{
    if (options.serialPorts.isEmpty() && options.usbPorts.isEmpty() && options.portFiles.isEmpty())
        return nullptr;
    QList<QSerialPortInfo> fixed;
    const auto addPorts = [&fixed](const QStringList& paths, int linkKind) {
        const QLatin1String description(LinkKindRules::forKind(linkKind).portDescription);
        for (const QString& path : paths)
            fixed.append(describeSerialPort(QFileInfo(path).fileName(), path, description));
    };
    addPorts(options.serialPorts, DUXLConnectionInterface::Serial);
    addPorts(options.usbPorts, DUXLConnectionInterface::Usb);
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
    return QLatin1String(LinkKindRules::forKind(kind).name) + QStringLiteral(" link");
}

// "firmware" or "bootloader" by the version a module answered with, by the rule the closing line uses;
// empty when none was read, or junk.
QString runningText(const QString& version)
{
    switch (VersionText::modeOf(version)) {
    case VersionText::Mode::Firmware:
        return QStringLiteral("firmware");
    case VersionText::Mode::Bootloader:
        return QStringLiteral("bootloader");
    case VersionText::Mode::Unknown:
        break;
    }
    return QString();
}

// --list --json: the modules and the plug-ins as one object.
void printListJson(const QJsonArray& modules, const QStringList& pluginNames)
{
    const QJsonObject listed{{QStringLiteral("schema"), EndedUpdate::JsonSchema},
                             {QStringLiteral("modules"), modules},
                             {QStringLiteral("plugins"), QJsonArray::fromStringList(pluginNames)}};
    Console::out() << QJsonDocument(listed).toJson(QJsonDocument::Compact) << Qt::endl;
}

// --list: the modules' table under its header row, `rows` first, then the plug-ins' names.
void printListText(const QList<QStringList>& rows, const QStringList& pluginNames)
{
    QTextStream& out = Console::out();
    const int moduleCount = rows.size() - 1;
    out << moduleCount << (moduleCount == 1 ? " module" : " modules") << Qt::endl;
    if (moduleCount > 0)
        out << UpdateSummary::alignedColumns(rows, {ListAddressColumn}, QStringLiteral("  "));
    out << pluginNames.size() << (pluginNames.size() == 1 ? " plug-in" : " plug-ins") << Qt::endl;
    for (const QString& name : pluginNames)
        out << "  " << visibleText(name) << Qt::endl;
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
    m_watchdog.setBounds(milliseconds(UpdateRun::InterruptCancelWaitMs + InterruptExitGraceMs),
                         milliseconds(UpdateRun::TimeoutCancelWaitMs + TimeoutExitGraceMs));
}

HostRun::~HostRun() = default;

namespace {
// What dux-host's options ask of each update the plug-in runs.
RunOptions runOptionsOf(const HostOptions& options)
{
    RunOptions run;
    run.ifChanged = options.ifChanged;
    run.verifyOnly = options.verify;
    run.resume = options.resume;
    run.readBack = !options.readBackFile.isEmpty();
    run.readBackFirst = options.readFirst;
    run.readBackEnd = options.readEnd;
    run.ifNewer = options.ifNewer;
    run.expectedSha256 = options.sha256;
    return run;
}
}

int HostRun::exec()
{
    m_clock.start();
    m_teller = std::make_unique<RunTeller>(m_options, QString());
    // First, so that the log keeps every refusal after it.
    if (!m_options.logPath.isEmpty() && !m_log.open(m_options.logPath))
        return refuse(QStringLiteral("cannot write the log %1: %2").arg(m_options.logPath, m_log.errorString()));
    m_teller->setLog(&m_log);

    const FirmwareFileCheck file =
        m_options.fileName.isEmpty() ? FirmwareFileCheck() : FirmwareFileCheck::of(m_options.fileName);
    if (!m_options.fileName.isEmpty() && !acceptFile(file))
        return m_exitCode;
    if (!portFilesExist())
        return m_exitCode;
    QDir().mkpath(AppSettings::homePath() + QLatin1String(FirmwarePoolFolder));
    if (!startLinks())
        return m_exitCode;
    loadPlugins();
    if (m_options.list)
        return listModules();
    return runWithWindow(file);
}

bool HostRun::acceptFile(const FirmwareFileCheck& file)
{
    if (!file.warning.isEmpty())
        Console::err() << "dux-host: warning: " << file.warning << Qt::endl;
    if (!file.problem.isEmpty()) {
        refuse(file.problem);
        return false;
    }
    const QString sha256 = m_options.sha256.isEmpty() ? QString() : RecordWriter::fileSha256(m_options.fileName);
    if (sha256 != m_options.sha256) {
        refuse(QStringLiteral("%1 has the SHA-256 %2, not %3 (--sha256)").arg(m_options.fileName, sha256, m_options.sha256));
        return false;
    }
    return true;
}

bool HostRun::portFilesExist()
{
    // A port list that is not there would only make the search wait for its time-out.
    for (const QString& portFile : qAsConst(m_options.portFiles)) {
        if (!QFileInfo::exists(portFile)) {
            refuse(QStringLiteral("port file %1 does not exist").arg(portFile));
            return false;
        }
    }
    return true;
}

int HostRun::runWithWindow(const FirmwareFileCheck& file)
{
    m_window = std::make_unique<HostWindow>(m_handler.get(), m_discovery.get(), m_loader->containers());
    m_window->setRunOptions(runOptionsOf(m_options));
    m_window->setWireCapture(&m_capture);
    m_window->setPluginFolder(m_pluginFolder);
    if (m_options.fileName.isEmpty()) {
        m_window->show();
        m_app->exec();
        return m_interrupted ? HostOptions::ExitInterrupted : HostOptions::ExitUpdated;
    }
    ContainerInterface* updater = m_loader->containerOfClass(QLatin1String(ContainerLoader::UpdatePluginClass));
    if (!updater)
        return refuse(QStringLiteral("no \"Firmware update\" plug-in in %1").arg(m_pluginFolder));
    if (m_options.station())
        return runStation(updater, file.identifier);
    return runUpdate(updater, file.identifier, file.programSize);
}

int HostRun::refuse(const QString& reason)
{
    UpdateResult result;
    result.startedUtc = QDateTime::currentDateTimeUtc();
    result.fileName = m_options.fileName;
    result.failureText = reason;
    m_records.record(result);
    m_teller->runEnded({result}, 0);
    m_exitCode = result.exitCode();
    return m_exitCode;
}

void HostRun::shareEventLoop()
{
    if (m_options.updatesSideBySide())
        NestedWaits::shareAmongModules(m_handler.get(), this);
}

int HostRun::runUpdate(ContainerInterface* updater, const QString& fileIdentifier, int fileBytes)
{
    if (m_options.wantsWindow())
        m_window->show();
    shareEventLoop();
    m_teller = std::make_unique<RunTeller>(m_options, fileIdentifier);
    m_teller->setLog(&m_log);
    m_teller->setLineWriteMs(UpdateRun::lineWriteMs(fileBytes, m_discovery->dataRate()));
    m_records.setFileBytes(fileBytes);
    const UpdateRun::Host host{{updater, m_handler.get(), m_discovery.get(), m_window.get()}, &m_records, m_clock.elapsed()};
    m_run = std::make_unique<UpdateRun>(m_options, host, fileIdentifier, fileBytes, m_teller.get());
    connect(m_run.get(), &UpdateRun::finished, this, &HostRun::runFinished);
    if (m_run->hasDeadline())
        m_watchdog.setDeadline(
            std::chrono::milliseconds(qMax<qint64>(0, qint64(m_options.timeoutSeconds) * MsPerSecond - m_clock.elapsed())));
    m_run->start();
    // Refused before anything started: the window has nothing to show.
    if (m_ending)
        return m_exitCode;
    const int loopResult = m_app->exec();
    return !m_options.wantsWindow() || m_options.exitWhenDone || m_interrupted ? m_exitCode : loopResult;
}

int HostRun::runStation(ContainerInterface* updater, const QString& fileIdentifier)
{
    Station::Setup setup{m_options.fileName, fileIdentifier, m_options.stationName, m_options.operatorName,
                         m_options.serialList, m_options.stopAfter, m_options.timeoutSeconds};
    if (setup.operatorName.isEmpty())
        setup.operatorName = RecordWriter::newRecord().operatorName;
    // Refused up front, as for several modules at once: nothing is sent before the station shows.
    const QString clash = ModuleClash::of(*m_discovery, *m_handler, m_handler->getModulePluginKeys(true));
    if (!clash.isEmpty())
        return refuse(clash);
    m_station = std::make_unique<Station>(HostParts{updater, m_handler.get(), m_discovery.get(), m_window.get()}, setup);
    QString problem;
    if (!m_station->loadSerialList(&problem))
        return refuse(problem);
    m_stationView = std::make_unique<StationView>(m_station.get());
    m_stationView->show();
    const int loopResult = m_app->exec();
    return m_interrupted ? HostOptions::ExitInterrupted : loopResult;
}

void HostRun::runFinished(int exitCode)
{
    m_ending = true;
    m_exitCode = exitCode;
    // With a window the user closes it, unless the run was to end with the update.
    if (m_options.wantsWindow() && !m_options.exitWhenDone && !m_interrupted)
        return;
    m_app->exit(exitCode);
    // A worker still inside a request keeps the plug-in from going down at once; the result is out.
    const std::chrono::milliseconds grace(m_interrupted ? InterruptExitGraceMs
                                          : m_deadlinePassed ? TimeoutExitGraceMs
                                                             : ExitGraceMs);
    m_watchdog.ended(grace, exitCode);
}

void HostRun::deadlineReached()
{
    m_deadlinePassed = true;
    if (m_run)
        m_run->deadlineReached();
}

void HostRun::interrupt()
{
    m_interrupted = true;
    if (m_run && !m_ending) {
        m_run->interrupt();
        return;
    }
    m_exitCode = HostOptions::ExitInterrupted;
    m_app->exit(HostOptions::ExitInterrupted);
}

int HostRun::tellResultAtOnce(RunWatchdog::Event event)
{
    const bool interrupted = event == RunWatchdog::Event::Interrupt;
    if (!m_run)
        return interrupted ? HostOptions::ExitInterrupted : HostOptions::ExitUsage;
    const QList<UpdateResult> results =
        m_run->snapshot(interrupted ? UpdateResult::Result::Interrupted : UpdateResult::Result::TimedOut);
    const RunTeller::Text text = m_teller->endText(results, m_run->toldCount(), m_teller->rewritesLine());
    std::fflush(stdout);
    Console::writeAll(Console::errorDescriptor(), text.err.toLocal8Bit());
    Console::writeAll(STDOUT_FILENO, text.out.toLocal8Bit());
    m_teller->log(text);
    m_run->recordCutShort(interrupted ? UpdateResult::Result::Interrupted : UpdateResult::Result::TimedOut,
                          CutShortRecordWaitMs);
    // A search cut short has no plug-in to record it: the GUI thread waits in a probe.
    for (const UpdateResult& result : results) {
        if (result.moduleKey.isEmpty())
            m_records.recordAndWait(result, CutShortRecordWaitMs);
    }
    return UpdateSummary::exitCode(results);
}

bool HostRun::startLinks()
{
    HostOptions& options = m_options;
    if (options.simulate) {
        // Its lines are not the result: -q and --json leave them out.
        const bool quiet = options.verbosity == HostOptions::Verbosity::Quiet || options.json;
        m_simulator = std::make_unique<SimulatorProcess>(quiet ? nullptr : &Console::out());
        if (!m_simulator->start(options.simulatorArguments)) {
            refuse(m_simulator->errorString());
            return false;
        }
        options.portFiles.append(m_simulator->portListFile());
    }
    if (!options.capturePath.isEmpty() && !m_capture.open(options.capturePath)) {
        refuse(QStringLiteral("cannot write the capture %1: %2").arg(options.capturePath, m_capture.errorString()));
        return false;
    }
    m_handler = std::make_unique<PluginHandler>();
    m_discovery = std::make_unique<ModuleDiscovery>(m_handler.get());
    m_discovery->setWireCapture(&m_capture);
    m_discovery->setDataRate(options.dataRate);
    m_discovery->setProbeAddresses(options.addresses);
    m_discovery->setProbeTimeoutMs(options.probeTimeoutMs);
    m_discovery->setWindowLimit(options.windowLimit);
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
    const QStringList keys = m_handler->getModulePluginKeys(true);
    const QList<ContainerInterface*> containers = m_loader->containers();
    QList<QStringList> rows{{QStringLiteral("module"), QStringLiteral("port"), QStringLiteral("type"),
                             QStringLiteral("address"), QStringLiteral("running"), QStringLiteral("version"),
                             QStringLiteral("link")}};
    QJsonArray modules;
    for (const QString& key : keys)
        listModule(key, &rows, &modules);
    if (keys.isEmpty())
        Console::err() << "dux-host: " << UpdateRun::searchedText(*m_discovery, m_options, 0, m_clock.elapsed()) << Qt::endl;
    QStringList pluginNames;
    for (ContainerInterface* container : containers)
        pluginNames.append(container->name());
    if (m_options.json)
        printListJson(modules, pluginNames);
    else
        printListText(rows, pluginNames);
    return HostOptions::ExitUpdated;
}

void HostRun::listModule(const QString& key, QList<QStringList>* rows, QJsonArray* modules) const
{
    DUXLModuleInterface* module = m_handler->getModulePlugin(key);
    DUXLConnectionInterface* connection = module->connectionInterface();
    CommandHandlerInterface* link = connection ? connection->commandHandler() : nullptr;
    const QString version = link ? link->getFirmwareVersion(module->moduleAddress()) : QString();
    const QString running = runningText(version);
    const QString port = ModuleKey(key).port();
    const QString linkText = connection ? linkKindName(connection->interfaceType()) : QStringLiteral("no link");
    rows->append({visibleText(key), visibleText(port), visibleText(module->nameInFirmware()),
                  QString::number(module->moduleAddress()),
                  running.isEmpty() ? QStringLiteral("-") : running,
                  version.isEmpty() ? QStringLiteral("none read") : visibleText(version), linkText});
    // The module's key and its parts under the names and in the form of an update's and a record's.
    QJsonObject listed = EndedUpdate::moduleJson(key);
    listed.insert(QStringLiteral("running"), running.isEmpty() ? QJsonValue() : QJsonValue(running));
    listed.insert(QStringLiteral("version"), version.isEmpty() ? QJsonValue() : QJsonValue(version));
    listed.insert(QStringLiteral("link"), linkText);
    modules->append(listed);
}
