// bench_memory [--size BYTES] [--updates N]
// Memory of updates. First the peak resident set of a whole dux-host --headless update of a BYTES image
// against dux-sim (unpaced), beside the peak of dux-host when it only starts, lists and ends (--list).
// Then N updates in a row in one process, through the tool's form as dux-host drives it, of a module
// behind dux-sim: the resident set and the bytes on the heap (all threads, see HeapCounter) after each.
// The first update sets up what lives on (fonts, the history's document, the worker thread's stack);
// from the second on the heap may not grow. The resident set follows the allocator, which keeps freed
// pages for later, and is shown beside it. The dialogue's fixed delays are scaled down (DUX_TIME_SCALE);
// they hold no memory.

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"
#include "benchtool.h"
#include "heapcounter.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int DefaultImageBytes = 0x40000;
constexpr int DefaultUpdates = 10;
// Updates before the one whose heap is the baseline for growth.
constexpr int SettlingUpdates = 1;
constexpr const char* TimeScale = "0.01";
constexpr double KiB = 1024.0;
// Heap growth below this is noise (a buffer that happens to be bigger at one moment); a leaked image or
// history would be 256 KiB or more per update.
constexpr double GrowthToleranceKiB = 16;

// Runs a program to its end with its output discarded; its exit status and peak resident set (KiB).
bool runToEnd(const QStringList& command, int* status, long* peakKiB)
{
    std::vector<QByteArray> arguments;
    for (const QString& argument : command)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    rusage usage{};
    if (wait4(pid, status, 0, &usage) != pid)
        return false;
    *peakKiB = usage.ru_maxrss;
    return true;
}

// Peak resident set of dux-host for `hostArguments`, with a module served by a dux-sim of its own.
bool hostPeak(const QStringList& hostArguments, const QString& work, long* peakKiB, QString* errorString)
{
    QProcess simulator;
    const QString ports = QDir(work).filePath(QStringLiteral("ports"));
    if (!BenchProcesses::startSimulator(&simulator, ports, {}, errorString))
        return false;
    int status = 0;
    const bool ran = runToEnd(QStringList{BenchProcesses::program("dux-host"), QStringLiteral("--port-file"), ports}
                                  + hostArguments,
                              &status, peakKiB);
    simulator.terminate();
    simulator.waitForFinished();
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *errorString = QStringLiteral("dux-host %1 failed").arg(hostArguments.join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

double liveHeapKiB()
{
    return double(HeapCounter::liveBytes()) / KiB;
}

}

int main(int argc, char* argv[])
{
    BenchSetup::defaultTimeScale(TimeScale);
    BenchSetup::defaultOffscreen();
    QTemporaryDir work;
    qputenv("DUX_HOME", work.filePath(QStringLiteral("home")).toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int imageBytes = qMax(1, BenchSetup::intOption(arguments, "--size", DefaultImageBytes));
    const int updates = qMax(SettlingUpdates + 2, BenchSetup::intOption(arguments, "--updates", DefaultUpdates));

    QString error;
    const QString firmware = work.filePath(QStringLiteral("firmware.hex"));
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error)) {
        std::fprintf(stderr, "bench_memory: %s\n", qPrintable(error));
        return 1;
    }
    long startPeakKiB = 0;
    long updatePeakKiB = 0;
    if (!hostPeak({QStringLiteral("--list")}, work.path(), &startPeakKiB, &error)
        || !hostPeak({QStringLiteral("--headless"), QStringLiteral("--file"), firmware}, work.path(), &updatePeakKiB,
                     &error)) {
        std::fprintf(stderr, "bench_memory: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("dux-host peak resident set: %.1f MiB for a headless update of %d bytes, %.1f MiB to start, list "
                "and end\n", updatePeakKiB / KiB, imageBytes, startPeakKiB / KiB);

    BenchTool tool;
    const QString key = tool.addPtyModule({});
    if (key.isEmpty()) {
        std::fprintf(stderr, "bench_memory: %s\n", qPrintable(tool.errorString()));
        return 1;
    }
    tool.start(false);
    std::printf("%d updates in one process (window not shown): KiB after each\n", updates);
    std::printf("%7s %12s %12s %12s\n", "update", "resident", "peak", "heap");
    std::vector<double> heapKiB;
    std::vector<qint64> residentKiB;
    for (int update = 1; update <= updates; ++update) {
        if (!tool.update(key, firmware)) {
            std::fprintf(stderr, "bench_memory: update %d failed: %s\n", update, qPrintable(tool.errorString()));
            return 1;
        }
        heapKiB.push_back(liveHeapKiB());
        residentKiB.push_back(BenchStats::rssKiB());
        std::printf("%7d %12lld %12lld %12.1f\n", update, residentKiB.back(), BenchStats::peakRssKiB(),
                    heapKiB.back());
        std::fflush(stdout);
    }
    const double heapGrowthKiB = heapKiB.back() - heapKiB.at(SettlingUpdates);
    const double residentGrowthKiB = double(residentKiB.back() - residentKiB.at(SettlingUpdates));
    std::printf("memory_growth: %+.1f KiB of heap from update %d to update %d, resident %+.0f KiB (target: no heap "
                "growth, within %.0f KiB)\n",
                heapGrowthKiB, SettlingUpdates + 1, updates, residentGrowthKiB, GrowthToleranceKiB);
    return 0;
}
