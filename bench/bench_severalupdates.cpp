// bench_severalupdates [--size BYTES] [--modules N] [--watched M] | --curve N,N,... [--size BYTES] [--busy K]
// Several modules in one dux-host. First a lone update: dux-host --headless against one dux-sim paced
// like a 115200 baud line; then N such modules (N dux-sim processes) updated at once by one
// dux-host --headless --all. Each module's time (from the click on Update to its end, as the JSON
// object tells) is compared with the lone update's time of the same run. Then --watch: dux-sim
// --replug-every plugs in a fresh module whenever the last one was updated, M modules in a row, while
// dux-host's resident set is read after each (the heap of another process cannot be counted from
// here; its resident set follows it, and a leaked image or history would show). The watch part runs
// unpaced with the dialogue's delays scaled down (DUX_TIME_SCALE).
// --curve runs only the first part, once for each count of modules given, each against a lone update
// made just before it, so that a change of the machine's load between the points moves both. --busy K
// keeps K CPU-bound processes running beside all of it, as other work on a station's PC would.

#include "benchprocesses.h"
#include "benchsetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int DefaultImageBytes = 0x10000;
constexpr int DefaultModules = 4;
constexpr int DefaultWatched = 20;
constexpr int WatchImageBytes = 0x1000;
constexpr int PacedBaud = 115200;
constexpr double TargetRatio = 1.10;
constexpr const char* WatchTimeScale = "0.05";
constexpr const char* ReplugSeconds = "0.2";
constexpr int HostTimeoutSeconds = 1800;
constexpr int MsPerSecond = 1000;
constexpr int StopMs = 10000;

bool fail(const QString& message)
{
    std::fprintf(stderr, "bench_severalupdates: %s\n", qPrintable(message));
    return false;
}

QProcessEnvironment hostEnvironment(const QString& work)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), QDir(work).filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// Updates the modules of `portLists` at once (one: a lone update) and returns each one's seconds, and
// the window the last one told.
bool updateAtOnce(const QStringList& portLists, const QString& firmware, const QString& work,
                  std::vector<double>* seconds, int* window = nullptr)
{
    QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--json"), QStringLiteral("--file"), firmware,
                          QStringLiteral("--timeout"), QString::number(HostTimeoutSeconds)};
    for (const QString& portList : portLists)
        arguments << QStringLiteral("--port-file") << portList;
    if (portLists.size() > 1)
        arguments << QStringLiteral("--all");
    QProcess host;
    host.setProcessEnvironment(hostEnvironment(work));
    host.setStandardErrorFile(QDir(work).filePath(QStringLiteral("dux-host.log")));
    host.start(BenchProcesses::program("dux-host"), arguments);
    if (!host.waitForFinished((HostTimeoutSeconds + 60) * MsPerSecond) || host.exitCode() != 0)
        return fail(QStringLiteral("dux-host %1 failed").arg(arguments.join(QLatin1Char(' '))));
    const QByteArray output = host.readAllStandardOutput();
    // One JSON object a line, one line a module.
    for (const QByteArray& line : output.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.contains(QLatin1String("durationMs")))
            continue;
        seconds->push_back(object[QLatin1String("durationMs")].toDouble() / MsPerSecond);
        if (window)
            *window = object[QLatin1String("window")].toInt();
    }
    if (int(seconds->size()) != portLists.size())
        return fail(QStringLiteral("dux-host told %1 results for %2 modules: %3")
                        .arg(seconds->size())
                        .arg(portLists.size())
                        .arg(QString::fromUtf8(output)));
    return true;
}

// A lone update on the first of `portLists`, then all of them at once; prints each module's ratio and
// returns the worst (0 when an update failed).
double againstLone(const QStringList& portLists, const QString& firmware, int imageBytes, const QString& work)
{
    std::vector<double> lone;
    std::vector<double> together;
    int loneWindow = 0;
    int window = 0;
    if (!updateAtOnce(portLists.mid(0, 1), firmware, work, &lone, &loneWindow)
        || !updateAtOnce(portLists, firmware, work, &together, &window))
        return 0;
    std::printf("%d modules at once at %d baud, %d bytes each, window %d; a lone update took %.2f s, window %d\n",
                int(portLists.size()), PacedBaud, imageBytes, window, lone.front(), loneWindow);
    double worst = 0;
    for (size_t i = 0; i < together.size(); ++i) {
        worst = qMax(worst, together[i] / lone.front());
        std::printf("  module %zu: %.2f s (%.3fx)\n", i + 1, together[i], together[i] / lone.front());
    }
    std::fflush(stdout);
    return worst;
}

// Processes that keep a CPU busy for as long as they live.
class BusyProcesses
{
public:
    explicit BusyProcesses(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_processes.push_back(std::make_unique<QProcess>());
            m_processes.back()->start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        }
    }
    ~BusyProcesses()
    {
        for (const std::unique_ptr<QProcess>& process : m_processes) {
            process->kill();
            process->waitForFinished(StopMs);
        }
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// One point of the curve per count in `counts`, on as many paced modules as the largest count.
bool severalAtOnce(int imageBytes, const QVector<int>& counts, const QString& work, int busy = 0)
{
    const QString firmware = QDir(work).filePath(QStringLiteral("paced.hex"));
    QString error;
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error))
        return fail(error);
    BenchProcesses::PacedSimulators simulators;
    if (!BenchProcesses::startPacedSimulators(*std::max_element(counts.begin(), counts.end()), PacedBaud, work,
                                              &simulators, &error))
        return fail(error);
    const BusyProcesses beside(busy);
    if (busy > 0)
        std::printf("%d CPU-bound processes running beside\n", busy);
    QVector<double> worst;
    for (int modules : counts) {
        worst.append(againstLone(simulators.portLists.mid(0, modules), firmware, imageBytes, work));
        if (worst.last() <= 0)
            return false;
    }
    for (int i = 0; i < counts.size(); ++i)
        std::printf("several_at_once: %.3f x a lone update, worst of %d modules (target <= %.2f x)\n", worst.at(i),
                    counts.at(i), TargetRatio);
    std::fflush(stdout);
    return true;
}

// The counts of "--curve 1,4,8"; empty without the option or when one is not a count.
QVector<int> curveCounts(const QStringList& arguments)
{
    const int at = int(arguments.indexOf(QStringLiteral("--curve")));
    QVector<int> counts;
    if (at < 0 || at + 1 >= arguments.size())
        return counts;
    for (const QString& count : arguments.at(at + 1).split(QLatin1Char(','))) {
        bool ok = false;
        counts.append(count.toInt(&ok));
        if (!ok || counts.last() < 1)
            return {};
    }
    return counts;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool watchInARow(int watched, const QString& work)
{
    const QString firmware = QDir(work).filePath(QStringLiteral("watch.hex"));
    QString error;
    if (!BenchProcesses::writeFirmware(firmware, WatchImageBytes, &error))
        return fail(error);
    qputenv("DUX_TIME_SCALE", WatchTimeScale);
    QProcess simulator;
    const QString portList = QDir(work).filePath(QStringLiteral("watchports"));
    if (!BenchProcesses::startSimulator(&simulator, portList, {QStringLiteral("--replug-every"), QLatin1String(ReplugSeconds)},
                                        &error))
        return fail(error);
    QProcess host;
    host.setProcessEnvironment(hostEnvironment(work));
    host.setStandardErrorFile(QDir(work).filePath(QStringLiteral("dux-host-watch.log")));
    host.start(BenchProcesses::program("dux-host"),
               {QStringLiteral("--headless"), QStringLiteral("--watch"), QStringLiteral("--port-file"), portList,
                QStringLiteral("--file"), firmware, QStringLiteral("--addresses"), QStringLiteral("1")});
    if (!host.waitForStarted())
        return fail(QStringLiteral("dux-host --watch did not start"));
    std::vector<qint64> resident;
    QByteArray pending;
    int failed = 0;
    while (int(resident.size()) < watched && host.waitForReadyRead(HostTimeoutSeconds * MsPerSecond)) {
        pending += host.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("Updated "))
                resident.push_back(residentKiB(host.processId()));
            else if (line.startsWith("Update of "))
                ++failed;
        }
    }
    ::kill(pid_t(host.processId()), SIGINT);
    host.waitForFinished(StopMs);
    const QByteArray counts = (pending + host.readAllStandardOutput()).trimmed();
    simulator.terminate();
    simulator.waitForFinished(StopMs);
    if (int(resident.size()) < watched)
        return fail(QStringLiteral("only %1 modules were updated").arg(resident.size()));
    std::printf("--watch, %d modules in a row (fresh one plugged in after each), dux-host resident set after each, KiB:\n",
                watched);
    for (size_t i = 0; i < resident.size(); ++i)
        std::printf("%s%lld", i == 0 ? "  " : " ", resident[i]);
    std::printf("\n  %s\n", counts.split('\n').last().constData());
    std::printf("watch_in_a_row: %d updated, %d failed, resident %+lld KiB from the 2nd to the %dth (target: 0 "
                "failures, no growth)\n",
                int(resident.size()), failed, resident.back() - resident.at(1), watched);
    return true;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int imageBytes = qMax(4, BenchSetup::intOption(arguments, "--size", DefaultImageBytes));
    const int modules = qMax(2, BenchSetup::intOption(arguments, "--modules", DefaultModules));
    const int watched = qMax(3, BenchSetup::intOption(arguments, "--watched", DefaultWatched));
    const QVector<int> curve = curveCounts(arguments);
    if (arguments.contains(QStringLiteral("--curve")) && curve.isEmpty())
        return fail(QStringLiteral("--curve takes counts of modules: 1,4,8")), 2;
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    if (!curve.isEmpty())
        return severalAtOnce(imageBytes, curve, work.path(), BenchSetup::intOption(arguments, "--busy", 0)) ? 0 : 1;
    if (!severalAtOnce(imageBytes, {modules}, work.path()) || !watchInARow(watched, work.path()))
        return 1;
    return 0;
}
