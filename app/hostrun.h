#pragma once

#include "hostoptions.h"
#include "runwatchdog.h"
#include "updateresult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <mutex>

class ContainerInterface;
class ContainerLoader;
class HostWindow;
class ModuleDiscovery;
class PluginHandler;
class ProgressPrinter;
class QApplication;
class SimulatorProcess;
class UpdateDriver;
class UpdateJob;

// One run of dux-host after its options were read: finds the modules, loads the plug-ins, and either
// lists them, shows the host's window, or runs one update and tells how it ended.
class HostRun : public QObject
{
    Q_OBJECT
public:
    HostRun(const HostOptions& options, QApplication* app);
    ~HostRun() override;

    // Returns the exit code.
    int exec();

private:
    bool startLinks();
    void loadPlugins();
    int listModules();
    int runUpdate(ContainerInterface* updater);
    // Several modules at once, or --watch.
    int runJob(ContainerInterface* updater);
    void tryToStart();
    void searchAgain();
    void deadlineReached();
    void interrupt();
    void noteProgress();
    // On the watchdog's thread, when the event loop did not end the run in time.
    int tellResultAtOnce(RunWatchdog::Event event);
    void cancelAndEnd(UpdateResult::Outcome outcome);
    void updateEnded(const UpdateResult& result);
    void end(const UpdateResult& result);
    UpdateResult notStarted(const QString& reason) const;
    QString searchedText() const;

    HostOptions m_options;
    QApplication* m_app;
    QElapsedTimer m_clock;
    // What is known of the update so far, for the watchdog's thread.
    std::mutex m_snapshotMutex;
    UpdateResult m_snapshot;
    // Destroyed last: it bounds the time the others take to go down.
    RunWatchdog m_watchdog;
    // Declared in the order they are made; destroyed the other way round.
    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<PluginHandler> m_handler;
    std::unique_ptr<ModuleDiscovery> m_discovery;
    std::unique_ptr<ContainerLoader> m_loader;
    std::unique_ptr<HostWindow> m_window;
    std::unique_ptr<UpdateDriver> m_driver;
    std::unique_ptr<ProgressPrinter> m_progress;
    std::unique_ptr<UpdateJob> m_job;
    QString m_pluginFolder;
    QTimer m_searchTimer;
    QTimer m_endWait;
    int m_searches = 0;
    bool m_started = false;
    bool m_ending = false;
    bool m_interrupted = false;
    UpdateResult::Outcome m_endOutcome = UpdateResult::Outcome::Failed;
    int m_exitCode = HostOptions::ExitUsage;
};
