// bench_watchmemory [--size BYTES] [--watched N]
// The heap of --watch over N modules in a row, in one process set up as dux-host sets it up (the
// host's discovery, the plug-in's factory object, the run driver): dux-sim --replug-every plugs in a
// fresh module once the last one was updated and left alone. The bytes on the heap (all threads, see
// HeapCounter) are read each time a module is unplugged, when its update and its tool instance are
// over. The first module sets up what lives on; from the second on the heap may not grow. Unpaced,
// with the dialogue's delays scaled down (DUX_TIME_SCALE).

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"
#include "firmwarefilecheck.h"
#include "firmwareupdate.h"
#include "heapcounter.h"
#include "hostwindow.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "runrecorder.h"
#include "runteller.h"
#include "updaterun.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr int DefaultImageBytes = 0x1000;
constexpr int DefaultWatched = 20;
constexpr const char* TimeScale = "0.05";
constexpr const char* ReplugSeconds = "0.2";
constexpr int PollMs = 100;
constexpr double KiB = 1024.0;
// Below this the heap only breathes (a buffer bigger at one moment); a leaked tool instance, image
// or history would be far more per module.
constexpr double GrowthToleranceKiB = 16;

}

int main(int argc, char* argv[])
{
    BenchSetup::defaultTimeScale(TimeScale);
    BenchSetup::defaultOffscreen();
    QTemporaryDir work;
    qputenv("DUX_HOME", work.filePath(QStringLiteral("home")).toLocal8Bit());
    QApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    const int imageBytes = qMax(4, BenchSetup::intOption(app.arguments(), "--size", DefaultImageBytes));
    const int watched = qMax(3, BenchSetup::intOption(app.arguments(), "--watched", DefaultWatched));

    QString error;
    const QString firmware = work.filePath(QStringLiteral("firmware.hex"));
    QProcess simulator;
    const QString portList = work.filePath(QStringLiteral("ports"));
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error)
        || !BenchProcesses::startSimulator(&simulator, portList, {QStringLiteral("--replug-every"), QLatin1String(ReplugSeconds)},
                                           &error)) {
        std::fprintf(stderr, "bench_watchmemory: %s\n", qPrintable(error));
        return 1;
    }
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeAddresses({1});
    discovery.start();
    PeripheryManager* periphery = PeripheryManager::instance();
    periphery->setPortSource([portList] { return PortListFile::read(portList); });
    periphery->checkActualUSBDevices(false);
    periphery->setPollInterval(PollMs);
    FirmwareUpdate factory;
    HostWindow window(&handler, &discovery, {});

    HostOptions options;
    options.headless = true;
    options.watch = true;
    options.fileName = firmware;
    options.verbosity = HostOptions::Verbosity::Quiet;
    const FirmwareFileCheck file = FirmwareFileCheck::of(firmware);
    RunTeller teller(options, file.identifier);
    RunRecorder records(file.programSize);
    UpdateRun watch(options, {&factory, &handler, &discovery, &window, &records}, file.identifier, file.programSize,
                    &teller);
    std::vector<double> heapKiB;
    std::vector<qint64> residentKiB;
    QEventLoop enough;
    QObject::connect(&handler, &PluginHandler::modulePluginRemoved, [&] {
        heapKiB.push_back(double(HeapCounter::liveBytes()) / KiB);
        residentKiB.push_back(BenchStats::rssKiB());
        if (int(heapKiB.size()) == watched)
            enough.quit();
    });
    QEventLoop ended;
    int exitCode = -1;
    QObject::connect(&watch, &UpdateRun::finished, [&](int code) {
        exitCode = code;
        ended.quit();
    });
    watch.start();
    enough.exec();
    watch.interrupt();
    if (exitCode < 0)
        ended.exec();
    std::printf("--watch in one process, %d modules in a row, %d program bytes: heap KiB when each was unplugged\n ",
                watched, imageBytes);
    for (double kib : heapKiB)
        std::printf(" %.1f", kib);
    std::printf("\n  resident KiB: %lld ... %lld\n", residentKiB.front(), residentKiB.back());
    std::printf("watch_heap_growth: %+.1f KiB of heap from module 2 to module %d, exit code %d (target: no heap growth, "
                "within %.0f KiB; 0: none failed)\n",
                heapKiB.back() - heapKiB.at(1), watched, exitCode, GrowthToleranceKiB);
    return 0;
}
