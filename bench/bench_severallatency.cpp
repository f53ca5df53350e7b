// bench_severallatency [--size BYTES] [--modules N]
// How late the GUI thread serves a 10 ms timer while N modules are updated at once in one process, as
// dux-host --all does it: N dux-sim processes paced like 115200 baud lines, found by the host's module
// discovery, each module updated by its own instance of the plug-in (made by its factory) in a window
// of its own, shown. Every request of the N workers passes this thread: the write phase's words carried
// on by the ports' read notifications, every other request waiting for its reply in a nested event
// loop. The timer's lateness is taken while at least one update is in its write phase. Run it on a display (xvfb-run); the dialogue's fixed delays are scaled down (DUX_TIME_SCALE).

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareupdate.h"
#include "hosteventloop.h"
#include "hostwindow.h"
#include "modulediscovery.h"
#include "moduleupdate.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "serialcommandhandler.h"
#include "timerprobe.h"
#include "updatephase.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int DefaultImageBytes = 0x4000;
constexpr int DefaultModules = 4;
constexpr double TargetP99Ms = 30;
constexpr const char* TimeScale = "0.1";
constexpr int PacedBaud = 115200;
constexpr int DiscoveryWaitMs = 10000;
constexpr int PollMs = 100;

int fail(const QString& message)
{
    std::fprintf(stderr, "bench_severallatency: %s\n", qPrintable(message));
    return 1;
}

}

int main(int argc, char* argv[])
{
    BenchSetup::defaultTimeScale(TimeScale);
    QTemporaryDir work;
    qputenv("DUX_HOME", work.filePath(QStringLiteral("home")).toLocal8Bit());
    HostEventLoop::chooseDispatcher();
    QApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    const int imageBytes = qMax(4, BenchSetup::intOption(app.arguments(), "--size", DefaultImageBytes));
    const int modules = qMax(1, BenchSetup::intOption(app.arguments(), "--modules", DefaultModules));

    QString error;
    const QString firmware = work.filePath(QStringLiteral("firmware.hex"));
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error))
        return fail(error);
    BenchProcesses::PacedSimulators simulators;
    if (!BenchProcesses::startPacedSimulators(modules, PacedBaud, work.path(), &simulators, &error))
        return fail(error);
    const QStringList portLists = simulators.portLists;

    // The host as dux-host sets it up: discovery of the listed ports, the plug-in's factory object.
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeAddresses({1});
    discovery.start();
    PeripheryManager* periphery = PeripheryManager::instance();
    periphery->setPortSource([portLists] {
        QList<QSerialPortInfo> ports;
        for (const QString& file : portLists)
            ports.append(PortListFile::read(file));
        return ports;
    });
    periphery->checkActualUSBDevices(false);
    periphery->setPollInterval(PollMs);
    QElapsedTimer waited;
    waited.start();
    while (handler.getModulePluginKeys(true).size() < modules && waited.elapsed() < DiscoveryWaitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, PollMs);
    const QStringList keys = handler.getModulePluginKeys(true);
    if (keys.size() < modules)
        return fail(QStringLiteral("only %1 of %2 modules found").arg(keys.size()).arg(modules));
    for (const QString& key : keys) {
        DUXLConnectionInterface* connection = handler.getModulePlugin(key)->connectionInterface();
        if (auto* link = qobject_cast<SerialCommandHandler*>(connection->commandHandler()))
            link->setWaitInEventLoop(true);
    }
    FirmwareUpdate factory;
    HostWindow window(&handler, &discovery, {});

    int writing = 0;
    int running = 0;
    QEventLoop allEnded;
    std::vector<std::unique_ptr<ModuleUpdate>> updates;
    std::vector<double> seconds(size_t(keys.size()), 0);
    for (const QString& key : keys) {
        updates.push_back(std::make_unique<ModuleUpdate>(&factory, &handler, &window, key, firmware));
        const size_t index = updates.size() - 1;
        auto inWrite = std::make_shared<bool>(false);
        QObject::connect(updates.back().get(), &ModuleUpdate::phaseChanged, [&writing, inWrite](const QString& phase) {
            const bool now = phase == UpdatePhases::name(UpdatePhase::Write);
            writing += int(now) - int(*inWrite);
            *inWrite = now;
        });
        QObject::connect(updates.back().get(), &ModuleUpdate::ended,
                         [&, index, inWrite](const UpdateResult& result) {
                             writing -= int(*inWrite);
                             *inWrite = false;
                             seconds[index] =
                                 result.result == UpdateResult::Result::Updated ? result.durationMs / 1000.0 : -1;
                             if (--running == 0)
                                 allEnded.quit();
                         });
    }
    TimerProbe probe([&writing] { return writing > 0; });
    for (const std::unique_ptr<ModuleUpdate>& update : updates) {
        if (update->start() != UpdateDriver::StartResult::Started)
            return fail(QStringLiteral("%1 did not start: %2").arg(update->moduleKey(), update->result().failureText));
        ++running;
    }
    allEnded.exec();
    for (size_t i = 0; i < seconds.size(); ++i) {
        if (seconds[i] < 0)
            return fail(QStringLiteral("the update of %1 failed").arg(keys.at(int(i))));
    }
    for (size_t i = 0; i < seconds.size(); ++i)
        std::printf("  %s: %.2f s\n", qPrintable(keys.at(int(i))), seconds[i]);
    const std::vector<double> lateness = probe.take();
    const double p99 = BenchStats::percentile(lateness, 0.99);
    std::printf("platform %s, %d modules at once at %d baud, %d bytes each, windows shown; %zu samples of a %d ms "
                "timer during the write phases, ms: p50 %.2f, p90 %.2f, p99 %.2f, max %.2f\n",
                qPrintable(QGuiApplication::platformName()), modules, PacedBaud, imageBytes, lateness.size(), TimerProbe::TimerMs,
                BenchStats::median(lateness), BenchStats::percentile(lateness, 0.9), p99,
                BenchStats::percentile(lateness, 1.0));
    std::printf("gui_timer_lateness_several_p99: %.2f ms with %d updates at once (target <= %.0f ms)\n", p99, modules,
                TargetP99Ms);
    return 0;
}
