#pragma once

#include "hostoptions.h"
#include "runlog.h"
#include "runrecorder.h"
#include "runwatchdog.h"
#include "updateresult.h"
#include "wirecapture.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

class ContainerInterface;
class ContainerLoader;
struct FirmwareFileCheck;
class HostWindow;
class ModuleDiscovery;
class PluginHandler;
class QApplication;
class QJsonArray;
class RunTeller;
class SimulatorProcess;
class Station;
class StationView;
class UpdateRun;

// One run of dux-host after its options were read: checks the file and the port lists, finds the
// modules, loads the plug-ins, and either lists them, shows the host's window, or hands the update of
// one or more modules to the UpdateRun and ends with its exit code.
class HostRun : public QObject
{
    Q_OBJECT
public:
    HostRun(const HostOptions& options, QApplication* app);
    ~HostRun() override;

    // Returns the exit code.
    int exec();

private:
    // The firmware file's check: a warning told, a problem or another SHA-256 refused (false).
    bool acceptFile(const FirmwareFileCheck& file);
    // Refuses the run (false) when a port file given is not there.
    bool portFilesExist();
    bool startLinks();
    void loadPlugins();
    int listModules();
    // Appends the module's row of the --list table and its JSON object.
    void listModule(const QString& key, QList<QStringList>* rows, QJsonArray* modules) const;
    // The host's window, and the update or the station of a firmware file given.
    int runWithWindow(const FirmwareFileCheck& file);
    int runUpdate(ContainerInterface* updater, const QString& fileIdentifier, int fileBytes);
    // --station: the station's window until it is closed.
    int runStation(ContainerInterface* updater, const QString& fileIdentifier);
    void shareEventLoop();
    // Tells a run that ended before any module was looked for.
    int refuse(const QString& reason);
    void interrupt();
    void deadlineReached();
    void runFinished(int exitCode);
    // On the watchdog's thread, when the event loop did not end the run in time.
    int tellResultAtOnce(RunWatchdog::Event event);

    HostOptions m_options;
    QApplication* m_app;
    RunRecorder m_records;
    // Outlives the tellers and the watchdog's thread, which write to it.
    RunLog m_log;
    QElapsedTimer m_clock;
    // Destroyed last: it bounds the time the others take to go down.
    RunWatchdog m_watchdog;
    // Outlives the links, which write to it.
    WireCapture m_capture;
    // Declared in the order they are made; destroyed the other way round.
    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<PluginHandler> m_handler;
    std::unique_ptr<ModuleDiscovery> m_discovery;
    std::unique_ptr<ContainerLoader> m_loader;
    std::unique_ptr<HostWindow> m_window;
    std::unique_ptr<RunTeller> m_teller;
    std::unique_ptr<UpdateRun> m_run;
    std::unique_ptr<Station> m_station;
    std::unique_ptr<StationView> m_stationView;
    QString m_pluginFolder;
    bool m_ending = false;
    bool m_interrupted = false;
    bool m_deadlinePassed = false;
    int m_exitCode = HostOptions::ExitUsage;
};
