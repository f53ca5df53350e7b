// bench_search [--runs N]
// The search for modules as dux-host --list does it with default options (addresses 1 to 4, 1000 ms
// per address until a module answers): one dux-sim module on one port, then dux-sim --modules 16,
// both paced like a 115200 baud line. Each is the whole process, from its start to its exit, N times;
// the median and the slowest are told against the targets (0.3 s and 1.5 s).

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr int DefaultRuns = 11;
constexpr int PacedBaud = 115200;
constexpr int GangModules = 16;
constexpr double LoneTargetSeconds = 0.3;
constexpr double GangTargetSeconds = 1.5;
constexpr int HostTimeoutMs = 60000;
constexpr double MsPerSecond = 1000.0;

// Times dux-host --list over `portList` `runs` times; false when a run failed or listed another count.
bool timeList(const QString& portList, int modules, int runs, const QString& work, std::vector<double>* seconds)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), QDir(work).filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QByteArray listed = QByteArray::number(modules) + (modules == 1 ? " module\n" : " modules\n");
    for (int i = 0; i < runs; ++i) {
        QProcess host;
        host.setProcessEnvironment(environment);
        host.setStandardErrorFile(QDir(work).filePath(QStringLiteral("dux-host.log")));
        QElapsedTimer clock;
        clock.start();
        host.start(BenchProcesses::program("dux-host"), {QStringLiteral("--port-file"), portList, QStringLiteral("--list")});
        if (!host.waitForFinished(HostTimeoutMs) || host.exitCode() != 0
            || !host.readAllStandardOutput().startsWith(listed)) {
            std::fprintf(stderr, "bench_search: dux-host --list did not list %d modules\n", modules);
            return false;
        }
        seconds->push_back(double(clock.elapsed()) / MsPerSecond);
    }
    return true;
}

bool measure(const char* what, int modules, double targetSeconds, int runs, const QString& work, double* worst)
{
    QProcess simulator;
    const QString portList = QDir(work).filePath(QStringLiteral("ports%1").arg(modules));
    QString error;
    if (!BenchProcesses::startSimulator(&simulator, portList,
                                        {QStringLiteral("--baud"), QString::number(PacedBaud), QStringLiteral("--modules"),
                                         QString::number(modules)},
                                        &error)) {
        std::fprintf(stderr, "bench_search: %s\n", qPrintable(error));
        return false;
    }
    std::vector<double> seconds;
    const bool timed = timeList(portList, modules, runs, work, &seconds);
    simulator.terminate();
    simulator.waitForFinished();
    if (!timed)
        return false;
    *worst = BenchStats::percentile(seconds, 1.0);
    std::printf("%s: median %.3f s, slowest %.3f s of %d runs (target %.1f s)\n", what, BenchStats::median(seconds),
                *worst, runs, targetSeconds);
    std::fflush(stdout);
    return true;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    const int runs = qMax(1, BenchSetup::intOption(app.arguments(), "--runs", DefaultRuns));
    QTemporaryDir work;
    double lone = 0;
    double gang = 0;
    if (!measure("--list, one port with one module", 1, LoneTargetSeconds, runs, work.path(), &lone)
        || !measure("--list, 16 ports with a module each", GangModules, GangTargetSeconds, runs, work.path(), &gang))
        return 1;
    std::printf("search: one port %.3f s (target %.1f s), 16 ports %.3f s (target %.1f s)\n", lone, LoneTargetSeconds,
                gang, GangTargetSeconds);
    return lone <= LoneTargetSeconds && gang <= GangTargetSeconds ? 0 : 1;
}
