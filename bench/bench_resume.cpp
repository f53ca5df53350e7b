// Resuming an update cut short at 90 % of its write, against a module paced like a serial line: once
// with dux-host killed, once with the module's port gone (dux-sim's fault) and the module power-cycled.
// Measures a full update's write phase, then the resumed update's write phase and its whole dux-host
// process (default options: the records make it resume), against the targets: the write at most 0.15 of
// the full write; the whole at most the dialogue's fixed pauses, 0.15 of the full write and 2 s. Counts
// the checksum requests that found the point. dux-sim's flash, written at the restart, judges that the
// resumed update left the file. Usage: bench_resume [--size BYTES] [--baud RATE] [--page-size BYTES]

#include "benchprocesses.h"
#include "benchsetup.h"
#include "simflash.h"
#include "timescale.h"
#include "updatephase.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

constexpr int DefaultSize = 256 * 1024;
constexpr int DefaultBaud = 115200;
constexpr int DefaultPageSize = 1024;
constexpr int CutPercent = 90;
constexpr double WriteShare = 0.15;
constexpr qint64 SlackMs = 2000;
constexpr int HostTimeoutMs = 15 * 60 * 1000;
constexpr int StartTimeoutMs = 10000;
constexpr int StopMs = 5000;
constexpr int PollMs = 20;
constexpr double MsPerSecond = 1000.0;
constexpr int Percent = 100;
constexpr int WordBytes = 4;

struct Setting
{
    int size = DefaultSize;
    int baud = DefaultBaud;
    int pageSize = DefaultPageSize;
    QString work;
    QString firmware;
};

struct HostRun
{
    qint64 ms = 0;
    QString history;
    QJsonObject report;
};

// One module of its own, paced, with `extra` options; its port and flash in `folder`.
bool startSimulator(const Setting& setting, const QString& folder, const QStringList& extra, QProcess* simulator)
{
    QString problem;
    const QStringList arguments = QStringList{QStringLiteral("--baud"), QString::number(setting.baud),
                                              QStringLiteral("--page-size"), QString::number(setting.pageSize),
                                              QStringLiteral("--flash-out"), QDir(folder).filePath(QStringLiteral("flash"))}
        + extra;
    if (!BenchProcesses::startSimulator(simulator, QDir(folder).filePath(QStringLiteral("ports")), arguments, &problem)) {
        std::fprintf(stderr, "bench_resume: %s\n", qPrintable(problem));
        return false;
    }
    return true;
}

void stopSimulator(QProcess* simulator)
{
    simulator->terminate();
    if (!simulator->waitForFinished(StopMs))
        simulator->kill();
}

QStringList hostArguments(const Setting& setting, const QString& folder)
{
    return {QStringLiteral("--headless"), QStringLiteral("-v"), QStringLiteral("--json"), QStringLiteral("--port-file"),
            QDir(folder).filePath(QStringLiteral("ports")), QStringLiteral("--file"), setting.firmware};
}

// dux-host's history goes to its stderr; the records go to a home of the folder's own.
void prepareHost(QProcess* host, const QString& folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), QDir(folder).filePath(QStringLiteral("home")));
    host->setProcessEnvironment(environment);
}

bool runHost(const Setting& setting, const QString& folder, HostRun* run)
{
    QProcess host;
    prepareHost(&host, folder);
    QElapsedTimer clock;
    clock.start();
    host.start(BenchProcesses::program("dux-host"), hostArguments(setting, folder));
    if (!host.waitForFinished(HostTimeoutMs)) {
        host.kill();
        host.waitForFinished();
        return false;
    }
    run->ms = clock.elapsed();
    run->history = QString::fromLocal8Bit(host.readAllStandardError());
    const QList<QByteArray> lines = host.readAllStandardOutput().trimmed().split('\n');
    run->report = QJsonDocument::fromJson(lines.last()).object();
    return true;
}

// The time of the first history line that begins with `text`; -1 when there is none.
qint64 lineMs(const QString& history, const QString& text)
{
    const QRegularExpression line(QStringLiteral("^\\[(\\d+):(\\d\\d)\\.(\\d{3})\\] %1").arg(QRegularExpression::escape(text)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(history);
    if (!match.hasMatch())
        return -1;
    return (match.captured(1).toLongLong() * 60 + match.captured(2).toLongLong()) * 1000 + match.captured(3).toLongLong();
}

// From "Writing N bytes..." to the verify's first line: the words and the write's own pauses.
qint64 writePhaseMs(const QString& history)
{
    return lineMs(history, QStringLiteral("Verifying checksum at address")) - lineMs(history, QStringLiteral("Writing "));
}

// The fixed pauses of the phases a resume goes through: no erase; no entry for a module found in its bootloader.
qint64 fixedPausesMs(const QJsonObject& report)
{
    const bool inBootloader = report.value(QLatin1String("firmwareBefore")).toString().mid(4, 1) == QLatin1String("B");
    qint64 pauses = 0;
    for (const UpdatePhase phase : UpdatePhases::all()) {
        if (phase != UpdatePhase::Erase && !(phase == UpdatePhase::Entry && inBootloader))
            pauses += UpdatePhases::knownPausesMs(phase);
    }
    return TimeScale::scaledMs(int(pauses));
}

// Kills dux-host once its history says it programs the page at `cut` or later.
bool killAt(const Setting& setting, const QString& folder, int cut)
{
    QProcess host;
    prepareHost(&host, folder);
    // The history comes on stderr: the wait below must wake on it.
    host.setReadChannel(QProcess::StandardError);
    host.start(BenchProcesses::program("dux-host"), hostArguments(setting, folder));
    const QRegularExpression page(QStringLiteral("\\] Writing page at address: 0x([0-9a-f]+)\\n"));
    QString history;
    while (host.waitForReadyRead(HostTimeoutMs)) {
        history += QString::fromLocal8Bit(host.readAllStandardError());
        for (auto match = page.globalMatch(history); match.hasNext();) {
            if (match.next().captured(1).toInt(nullptr, 16) >= cut) {
                host.kill();
                host.waitForFinished();
                return true;
            }
        }
    }
    return false;
}

// The module's port goes away at the write's request `request`; dux-host fails; a power cycle brings it back.
bool portGoneAt(const Setting& setting, const QString& folder, QProcess* simulator)
{
    HostRun cut;
    if (!runHost(setting, folder, &cut) || cut.report.value(QLatin1String("phase")).toString() != QLatin1String("write"))
        return false;
    const QString ports = QDir(folder).filePath(QStringLiteral("ports"));
    QFile::remove(ports);
    ::kill(pid_t(simulator->processId()), SIGUSR1);
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(ports).size() == 0 && clock.elapsed() < StartTimeoutMs)
        QThread::msleep(PollMs);
    return QFileInfo(ports).size() > 0;
}

// One interruption and the resumed update after it; false when something did not run as it must.
bool measureResume(const Setting& setting, const char* kind, qint64 fullWriteMs)
{
    const QString folder = QDir(setting.work).filePath(QLatin1String(kind));
    QDir().mkpath(folder);
    const int cut = setting.size / Percent * CutPercent;
    const bool killed = qstrcmp(kind, "killed") == 0;
    // The write phase's requests: a word each, and one page command a page.
    const int requestsAtCut = (cut / WordBytes) + cut / setting.pageSize;
    const QStringList fault = killed ? QStringList()
                                     : QStringList{QStringLiteral("--fault"),
                                                   QStringLiteral("port-vanishes@write:%1").arg(requestsAtCut)};
    QProcess simulator;
    if (!startSimulator(setting, folder, fault, &simulator))
        return false;
    const bool interrupted = killed ? killAt(setting, folder, cut) : portGoneAt(setting, folder, &simulator);
    HostRun resumed;
    const bool ran = interrupted && runHost(setting, folder, &resumed);
    stopSimulator(&simulator);
    if (!ran) {
        std::fprintf(stderr, "bench_resume: %s: the interrupted update or the one after it did not run\n", kind);
        return false;
    }
    const SimFlash flash = SimFlash::read(QDir(folder).filePath(QStringLiteral("flash")));
    const QString difference = flash.isValid() ? flash.differenceFrom(setting.firmware) + flash.storedDifferenceFrom(setting.firmware)
                                               : flash.error();
    const QRegularExpressionMatch point =
        QRegularExpression(QStringLiteral("\\] (Resuming at 0x[0-9a-f]+: \\d+ of \\d+ bytes already in place)\\n"))
            .match(resumed.history);
    const QRegularExpressionMatch requests =
        QRegularExpression(QStringLiteral("\\] The point took (\\d+) checksum requests\\.")).match(resumed.history);
    // Why it did not resume is in the history up to the erase.
    if (!point.hasMatch())
        std::fprintf(stderr, "bench_resume: %s: no resume:\n%s\n", kind,
                     qPrintable(resumed.history.left(resumed.history.indexOf(QLatin1String("] Erasing...")))));
    const qint64 writeMs = writePhaseMs(resumed.history);
    const qint64 boundMs = fixedPausesMs(resumed.report) + qint64(WriteShare * double(fullWriteMs)) + SlackMs;
    const QString result = resumed.report.value(QLatin1String("result")).toString();
    std::printf("%s at %d %%: %s; %s checksum requests; result %s; flash %s\n", kind, CutPercent,
                point.hasMatch() ? qPrintable(point.captured(1)) : "no resume", qPrintable(requests.captured(1)),
                qPrintable(result), difference.isEmpty() ? "holds the file" : qPrintable(difference));
    std::printf("  write phase %.3f s = %.3f of the full write (target <= %.2f); whole update %.3f s, bound %.3f s "
                "(fixed pauses %.3f s + %.2f x full write + 2 s)\n",
                writeMs / MsPerSecond, double(writeMs) / double(fullWriteMs), WriteShare, resumed.ms / MsPerSecond,
                boundMs / MsPerSecond, fixedPausesMs(resumed.report) / MsPerSecond, WriteShare);
    return result == QLatin1String("resumed") && difference.isEmpty() && double(writeMs) <= WriteShare * double(fullWriteMs)
        && resumed.ms <= boundMs;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BenchSetup::defaultTimeScale("1");
    BenchSetup::discardDebugMessages();
    QTemporaryDir work;
    Setting setting;
    setting.size = BenchSetup::intOption(app.arguments(), "--size", DefaultSize);
    setting.baud = BenchSetup::intOption(app.arguments(), "--baud", DefaultBaud);
    setting.pageSize = qMax(WordBytes, BenchSetup::intOption(app.arguments(), "--page-size", DefaultPageSize));
    setting.work = work.path();
    setting.firmware = QDir(work.path()).filePath(QStringLiteral("firmware.hex"));
    QString problem;
    if (!BenchProcesses::writeFirmware(setting.firmware, setting.size, &problem)) {
        std::fprintf(stderr, "bench_resume: %s\n", qPrintable(problem));
        return 1;
    }

    const QString fullFolder = QDir(work.path()).filePath(QStringLiteral("full"));
    QDir().mkpath(fullFolder);
    QProcess simulator;
    if (!startSimulator(setting, fullFolder, {}, &simulator))
        return 1;
    HostRun full;
    const bool fullRan = runHost(setting, fullFolder, &full);
    stopSimulator(&simulator);
    if (!fullRan || full.report.value(QLatin1String("result")).toString() != QLatin1String("updated")) {
        std::fprintf(stderr, "bench_resume: the full update did not end updated\n");
        return 1;
    }
    const qint64 fullWriteMs = writePhaseMs(full.history);
    std::printf("full update of %d bytes at %d baud, pages of %d bytes: write phase %.3f s, whole update %.3f s\n",
                setting.size, setting.baud, setting.pageSize, fullWriteMs / MsPerSecond, full.ms / MsPerSecond);
    const bool afterKill = measureResume(setting, "killed", fullWriteMs);
    const bool afterPowerCycle = measureResume(setting, "port-gone-power-cycled", fullWriteMs);
    std::printf("resume: %s\n", afterKill && afterPowerCycle ? "both targets met, the flash holds the file"
                                                              : "a target missed or the flash differs");
    return afterKill && afterPowerCycle ? 0 : 1;
}
