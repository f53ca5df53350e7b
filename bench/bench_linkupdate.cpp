// bench_linkupdate [--baud RATE] [--size BYTES] [--runs N] [--window N] [--module-window N] [--adapter-latency-ms L]
//                  [--if-changed | --verify | --read-back | --late-duplicates]
// A whole update as a user runs it: dux-host --headless updates a module that dux-sim serves on a
// pseudo-terminal paced like a serial line of RATE baud (8N1), with a firmware file of BYTES program
// bytes. Each run is compared with the link-bound ideal of that same run: every frame the update put on
// the line (counted from the run's own history: version queries, bootloader entry, parameter reads,
// erase, one request per flash word and per page, retries, checksum, size and checksum store, restart,
// reconnection) times 10 bits per byte at RATE, one frame after the other as the exchange requires,
// plus the update's fixed delays. Two ideals: one with a fixed lean-frame reference of 4 framing bytes
// around each payload (23 bytes per word exchange), which does not follow our format, and one with the
// frames of docs/protocol.md. The window is the one the history's clock shows: from the click on
// Update ("Firmwareupdate started") to "Update completed.". The result is the median ratio of the runs.
// --window caps the flash words in flight (default 1: one at a time, which the ideals above describe);
// with more, the write phase is also set against the full-duplex limit: each word's request alone on
// the line (the replies come back meanwhile), each page command a whole exchange. --module-window is
// the window dux-sim's module takes, --adapter-latency-ms how long its replies wait in a USB adapter.
// --if-changed, --verify: the module runs the file's firmware and its flash holds the file already, and
// dux-host runs with that option; dux-host's whole process is set against the bootloader entry (the
// click to the bootloader's answer) plus the restart back into the firmware ("Restarting module..." to
// "Update completed.") plus the line time of the page sums' checksum requests plus 2 s.
// --read-back: the module's flash holds the file, and dux-host --read-back reads BYTES of it from the
// flash base, one checksum request a byte; the read (its own line, "Read back N bytes in S s (R checksum
// requests).") is set against the line time of its R requests.
// --late-duplicates: each run is a pair, a clean update and one where dux-sim sends every reply again
// 5 ms later in every phase but the entry; the pair's ratio of times is set against 1.10.

#include "benchprocesses.h"
#include "benchstats.h"
#include "benchtool.h"
#include "duxlframe.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int DefaultBaud = 115200;
constexpr int DefaultImageBytes = 0x10000;
constexpr int DefaultRuns = 3;
constexpr int TargetBaud = 115200;
constexpr double TargetRatio = 1.20;
// What a skip or a verify may take beyond its bootloader entry, its restart and its page sums' line time.
constexpr double SkipAllowanceMs = 2000;
constexpr double LateDuplicateTargetRatio = 1.10;
// The phases whose replies the module copies; the entry is a version request answered by the firmware.
const QStringList CopiedPhases{QStringLiteral("detection"), QStringLiteral("parameters"), QStringLiteral("erase"),
                               QStringLiteral("write"),     QStringLiteral("verify"),     QStringLiteral("store"),
                               QStringLiteral("restart"),   QStringLiteral("reconnect")};
constexpr int BitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int WordBytes = 4;

// Bytes of the frames an update puts on the line.
struct FrameSizes
{
    int commandRequest;
    int commandReply;
    int versionRequest;
    int versionReplyWithoutText;

    int commandExchange() const { return commandRequest + commandReply; }
    qint64 versionExchange(const QString& text) const
    {
        return versionRequest + versionReplyWithoutText + text.toLatin1().size();
    }
};

// The reference: 4 framing bytes around each payload, which is 9 bytes out and 6 back for a command
// (address, command, type, bank, value; command, status, value), the address out and the text with
// its length back for a version query.
constexpr int ReferenceFramingBytes = 4;
constexpr FrameSizes ReferenceFrames{ReferenceFramingBytes + 9, ReferenceFramingBytes + 6, ReferenceFramingBytes + 1,
                                     ReferenceFramingBytes + 1};
constexpr int FramingBytes = DuxlFrame::HeaderBytes + DuxlFrame::CrcBytes;
constexpr FrameSizes OurFrames{FramingBytes + DuxlFrame::CommandRequestBodyBytes,
                               FramingBytes + DuxlFrame::CommandReplyBodyBytes,
                               FramingBytes + DuxlFrame::VersionRequestBodyBytes, FramingBytes + 1};
// Parameter reads (page size, flash base, memory size), erase, checksum, size, checksum store, restart.
constexpr int FixedCommands = 3 + 1 + 1 + 2 + 1;

// Delays that lie on the path of every update (ms); no link makes them shorter.
constexpr double BootloaderRecheckMs = 5000;   // the tool looks for the bootloader again after the entry command
constexpr double WorkerStartMs = 500;          // and starts the worker this long after finding it
constexpr double AfterVersionRequestMs = 333;  // after each version query of the worker
constexpr double BeforeReopenMs = 250;         // after a detection attempt without bootloader
constexpr double BeforeIdentityChecksMs = 300;
constexpr double AfterPageSizeRequestMs = 50;
constexpr double AfterFlashBaseRequestMs = 0.5;
constexpr double AfterEraseMs = 250;
constexpr double AfterWriteSetupMs = 250;
constexpr double WordRetryMs = 250;
constexpr double AfterWriteMs = 1000;
constexpr double BeforeFirstReopenMs = 1500;
constexpr double BeforeReconnectionMs = 666;

constexpr int StopMs = 3000;
constexpr int MsPerSecond = 1000;
// Far above any run: three times the ideal of a 256 KiB image at 115200 baud.
constexpr int HostTimeoutSeconds = 1800;

// One history line with dux-host's clock: "[m:ss.mmm] text".
const QRegularExpression& historyLine()
{
    static const QRegularExpression line(QStringLiteral("^\\[(\\d+):(\\d\\d)\\.(\\d\\d\\d)\\] (.*)$"));
    return line;
}

struct Line
{
    double ms;
    QString text;
};

// What one run put on the line and how long it took, read off its history.
struct Run
{
    double measuredMs = -1;
    double idealMs = 0;
    double writeMeasuredMs = -1;
    double writeIdealMs = 0;
    qint64 windowBytes = 0;
    int writeExchanges = 0;
    double writeDuplexIdealMs = -1;
    QString problem;
};

double wireMs(qint64 bytes, int baud)
{
    return double(bytes) * BitsPerByte * MsPerSecond / baud;
}

// History lines the ideal is read from.
constexpr const char* StartedLine = "Firmwareupdate started";
constexpr const char* CompletedLine = "Update completed.";
constexpr const char* VerifyingLine = "Verifying checksum at address";
constexpr const char* ActiveFirmwareLine = "Active firmware: ("; // the version text and ")"
constexpr const char* EntryLine = "Enter bootloader mode...";
constexpr const char* DetectionLine = "Try to read bootloader version";
constexpr const char* BootloaderLine = "Bootloader: "; // the version text
constexpr const char* WordRetryLine = "Programming error (1) Retry";
constexpr const char* PageLine = "Writing page at address";
constexpr const char* ChecksumRepeatLine = "Checksum reply is invalid";
constexpr const char* ReconnectionLine = "Try to read firmware version";
constexpr const char* RestartedLine = "Restarted module with firmware version \""; // the version text and "."
constexpr const char* RestartingLine = "Restarting module...";
constexpr const char* EraseLine = "Erasing...";
// How many checksum requests the sums took: the skip's page count, the verify's own count.
const QRegularExpression PageSumsLine(QStringLiteral("^All (\\d+) page sums equal the file's\\.$"));
const QRegularExpression ReadBackLine(QStringLiteral("^Read back \\d+ bytes in ([\\d.]+) s \\((\\d+) checksum requests\\)\\.$"));
const QRegularExpression VerifySumsLine(QStringLiteral("; (\\d+) checksum requests\\.$"));

class History
{
public:
    explicit History(const QList<Line>& lines)
        : m_lines(lines)
    {
    }
    int count(const char* prefix) const
    {
        return int(std::count_if(m_lines.begin(), m_lines.end(), [prefix](const Line& line) {
            return line.text.startsWith(QLatin1String(prefix));
        }));
    }
    // The first line that starts with `prefix`; time -1 when there is none.
    Line first(const char* prefix) const
    {
        const auto at = std::find_if(m_lines.begin(), m_lines.end(), [prefix](const Line& line) {
            return line.text.startsWith(QLatin1String(prefix));
        });
        return at == m_lines.end() ? Line{-1, QString()} : *at;
    }
    // The first line's match of `pattern`; no match when no line matches.
    QRegularExpressionMatch match(const QRegularExpression& pattern) const
    {
        for (const Line& line : m_lines) {
            const QRegularExpressionMatch found = pattern.match(line.text);
            if (found.hasMatch())
                return found;
        }
        return QRegularExpressionMatch();
    }
    // The number the first line that matches `pattern` captures; -1 when no line does.
    int number(const QRegularExpression& pattern) const
    {
        const QRegularExpressionMatch found = match(pattern);
        return found.hasMatch() ? found.captured(1).toInt() : -1;
    }
    // What follows `prefix` in the first such line, without the last `tail` characters.
    QString after(const char* prefix, int tail = 0) const
    {
        return first(prefix).text.mid(int(qstrlen(prefix))).chopped(tail);
    }
    const QList<Line>& lines() const { return m_lines; }

private:
    QList<Line> m_lines;
};

Run analyse(const History& history, int baud, const FrameSizes& frames)
{
    Run run;
    static const QRegularExpression writingBytes(QStringLiteral("^Writing (\\d+) bytes\\.\\.\\.$"));
    Line writing{-1, QString()};
    QRegularExpressionMatch programSize;
    for (const Line& line : history.lines()) {
        programSize = writingBytes.match(line.text);
        if (programSize.hasMatch()) {
            writing = line;
            break;
        }
    }
    const Line started = history.first(StartedLine);
    const Line completed = history.first(CompletedLine);
    const Line verifying = history.first(VerifyingLine);
    if (started.ms < 0 || completed.ms < 0 || verifying.ms < 0 || writing.ms < 0) {
        run.problem = QStringLiteral("the history lacks the start, the write, the verification or the completion");
        return run;
    }

    qint64 bytes = 0;
    double delayMs = 0;
    // The tool reads the version at the click and again when it looks for the bootloader.
    for (const Line& line : history.lines()) {
        if (line.text.startsWith(QLatin1String(ActiveFirmwareLine)))
            bytes += frames.versionExchange(line.text.mid(int(qstrlen(ActiveFirmwareLine))).chopped(1));
    }
    const int entries = history.count(EntryLine);
    bytes += qint64(entries) * frames.commandRequest;
    delayMs += entries * BootloaderRecheckMs + WorkerStartMs;

    const int detections = history.count(DetectionLine);
    bytes += detections * frames.versionExchange(history.after(BootloaderLine));
    delayMs += detections * AfterVersionRequestMs + (detections - 1) * BeforeReopenMs;
    delayMs += BeforeIdentityChecksMs + AfterPageSizeRequestMs + AfterFlashBaseRequestMs + AfterEraseMs;

    const int words = (programSize.captured(1).toInt() + WordBytes - 1) / WordBytes;
    const int retries = history.count(WordRetryLine);
    const int pages = history.count(PageLine);
    run.writeExchanges = words + retries + pages;
    const qint64 writeBytes = qint64(run.writeExchanges) * frames.commandExchange();
    const double writeDelayMs = AfterWriteSetupMs + retries * WordRetryMs + AfterWriteMs;
    run.writeIdealMs = wireMs(writeBytes, baud) + writeDelayMs;
    run.writeMeasuredMs = verifying.ms - writing.ms;
    run.writeDuplexIdealMs = wireMs(qint64(words) * frames.commandRequest + qint64(retries + pages) * frames.commandExchange(),
                                    baud)
        + writeDelayMs;
    bytes += writeBytes;
    delayMs += writeDelayMs;

    bytes += qint64(FixedCommands + history.count(ChecksumRepeatLine)) * frames.commandExchange();

    const int reconnections = history.count(ReconnectionLine);
    bytes += reconnections * frames.versionExchange(history.after(RestartedLine, 2));
    delayMs += BeforeFirstReopenMs + BeforeReconnectionMs + reconnections * AfterVersionRequestMs;

    run.windowBytes = bytes;
    run.idealMs = wireMs(bytes, baud) + delayMs;
    run.measuredMs = completed.ms - started.ms;
    return run;
}

// A skip or a verify: its bootloader entry, its restart, the whole window and the checksum requests of its
// sums; false when a line is missing or the module was erased.
struct SumRun
{
    double entryMs = 0;
    double restartMs = 0;
    double wholeMs = 0;
    int sumRequests = 0;
};

bool analyseSumRun(const History& history, SumRun* run)
{
    const Line started = history.first(StartedLine);
    const Line bootloader = history.first(BootloaderLine);
    const Line restarting = history.first(RestartingLine);
    const Line completed = history.first(CompletedLine);
    const int pages = history.number(PageSumsLine);
    run->sumRequests = pages >= 0 ? pages : history.number(VerifySumsLine);
    if (started.ms < 0 || bootloader.ms < 0 || restarting.ms < 0 || completed.ms < 0 || run->sumRequests < 0
        || history.count(EraseLine) > 0)
        return false;
    run->entryMs = bootloader.ms - started.ms;
    run->restartMs = completed.ms - restarting.ms;
    run->wholeMs = completed.ms - started.ms;
    return true;
}

QList<Line> historyOf(const QByteArray& output)
{
    QList<Line> lines;
    for (const QByteArray& raw : output.split('\n')) {
        const QRegularExpressionMatch match = historyLine().match(QString::fromUtf8(raw).trimmed());
        if (!match.hasMatch())
            continue;
        const double ms = match.captured(1).toInt() * 60000.0 + match.captured(2).toInt() * 1000.0
            + match.captured(3).toInt();
        // Retry marks of the completion may stand in front of a line.
        QString text = match.captured(4);
        while (text.startsWith(QLatin1Char('*')))
            text.remove(0, 1);
        lines.append({ms, text});
    }
    return lines;
}

// Bytes the process has read and written through system calls so far (its pty traffic, here).
qint64 ioBytes(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    qint64 total = 0;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:") || line.startsWith("wchar:"))
            total += line.mid(6).trimmed().toLongLong();
    }
    return total;
}

struct Options
{
    int baud = DefaultBaud;
    int imageBytes = DefaultImageBytes;
    int runs = DefaultRuns;
    int window = 1;
    int moduleWindow = 4;
    int adapterLatencyMs = 0;
    bool ifChanged = false;
    bool verify = false;
    bool readBack = false;
    bool lateDuplicates = false;
};

bool parse(const QStringList& arguments, Options* options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--if-changed")) {
            options->ifChanged = true;
            continue;
        }
        if (arguments.at(i) == QLatin1String("--verify")) {
            options->verify = true;
            continue;
        }
        if (arguments.at(i) == QLatin1String("--read-back")) {
            options->readBack = true;
            continue;
        }
        if (arguments.at(i) == QLatin1String("--late-duplicates")) {
            options->lateDuplicates = true;
            continue;
        }
        bool ok = i + 1 < arguments.size();
        const int value = ok ? arguments.at(i + 1).toInt(&ok) : 0;
        if (!ok || value <= 0)
            return false;
        if (arguments.at(i) == QLatin1String("--baud"))
            options->baud = value;
        else if (arguments.at(i) == QLatin1String("--size"))
            options->imageBytes = value;
        else if (arguments.at(i) == QLatin1String("--runs"))
            options->runs = value;
        else if (arguments.at(i) == QLatin1String("--window"))
            options->window = value;
        else if (arguments.at(i) == QLatin1String("--module-window"))
            options->moduleWindow = value;
        else if (arguments.at(i) == QLatin1String("--adapter-latency-ms"))
            options->adapterLatencyMs = value;
        else
            return false;
        ++i;
    }
    return true;
}

constexpr const char* PacingLine = "dux-sim: paced ";

// One update of a fresh module, as dux-host's history and dux-sim tell it.
struct Measurement
{
    History history{{}};
    // Bytes through dux-sim in the whole session, and dux-host's whole process.
    qint64 sessionBytes = 0;
    double processMs = 0;
    // dux-sim's account of its pacing.
    QString pacing;
    // Why there is no history; empty when there is one.
    QString problem;
    double loadBefore = 0;
};

// `faults`: dux-sim's wire faults for this run.
Measurement measure(const Options& options, const QString& firmware, const QString& work,
                    const QStringList& faults = {})
{
    Measurement measured;
    measured.loadBefore = BenchStats::loadAverage();
    const QString ports = QDir(work).filePath(QStringLiteral("ports"));
    QProcess simulator;
    QStringList simulatorArguments{QStringLiteral("--baud"), QString::number(options.baud),
                                   QStringLiteral("--window"), QString::number(options.moduleWindow),
                                   QStringLiteral("--adapter-latency-ms"), QString::number(options.adapterLatencyMs)};
    for (const QString& fault : faults)
        simulatorArguments << QStringLiteral("--fault") << fault;
    QStringList hostArguments{QStringLiteral("--headless"), QStringLiteral("-v"), QStringLiteral("--port-file"), ports,
                              QStringLiteral("--window"), QString::number(options.window),
                              QStringLiteral("--file"), firmware, QStringLiteral("--timeout"),
                              QString::number(HostTimeoutSeconds)};
    if (options.readBack) {
        simulatorArguments << QStringLiteral("--flash-image") << firmware;
        hostArguments << QStringLiteral("--read-back") << QDir(work).filePath(QStringLiteral("back.hex"))
                      << QStringLiteral("--range") << QStringLiteral("0:%1").arg(options.imageBytes);
    }
    if (options.ifChanged || options.verify) {
        simulatorArguments << QStringLiteral("--flash-image") << firmware << QStringLiteral("--firmware")
                           << QLatin1String(BenchProcesses::FirmwareIdentifier);
        hostArguments << (options.verify ? QStringLiteral("--verify") : QStringLiteral("--if-changed"));
    }
    if (!BenchProcesses::startSimulator(&simulator, ports, simulatorArguments, &measured.problem))
        return measured;
    const qint64 ioBefore = ioBytes(simulator.processId());

    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), QDir(work).filePath(QStringLiteral("home")));
    host.setProcessEnvironment(environment);
    host.setStandardErrorFile(QDir(work).filePath(QStringLiteral("dux-host.log")));
    // -v: the history lines with their clock, which the figures are read from.
    QElapsedTimer clock;
    clock.start();
    host.start(BenchProcesses::program("dux-host"), hostArguments);
    const bool ended = host.waitForFinished((HostTimeoutSeconds + 60) * MsPerSecond);
    measured.processMs = clock.elapsed();
    const QByteArray output = host.readAllStandardOutput();
    measured.sessionBytes = ioBytes(simulator.processId()) - ioBefore;
    simulator.terminate();
    simulator.waitForFinished(StopMs);
    // dux-sim's account of its pacing: where the exchanges' time went beyond their line time.
    for (const QByteArray& line : simulator.readAllStandardError().split('\n')) {
        if (line.startsWith(PacingLine))
            measured.pacing = QString::fromUtf8(line.mid(int(qstrlen(PacingLine))));
    }
    if (!ended || host.exitStatus() != QProcess::NormalExit || host.exitCode() != 0) {
        measured.problem = QStringLiteral("dux-host failed:\n") + QString::fromUtf8(output.right(2000));
        return measured;
    }
    measured.history = History(historyOf(output));
    return measured;
}

// Says why run `i` gave no figures (dux-host's problem, else `missing`); false when it gave them.
bool runFailed(int i, const Measurement& measured, bool analysed, const char* missing)
{
    if (measured.problem.isEmpty() && analysed)
        return false;
    std::fprintf(stderr, "bench_linkupdate: run %d: %s\n", i, measured.problem.isEmpty() ? missing : qPrintable(measured.problem));
    return true;
}

// --if-changed, --verify: each run skips (verifies) a module that holds the file; the median process
// against its entry, restart and page sums.
int measureSumRuns(const Options& options, const QString& firmware, const QString& work)
{
    std::vector<double> processes;
    std::vector<double> bounds;
    for (int i = 1; i <= options.runs; ++i) {
        const Measurement measured = measure(options, firmware, work);
        SumRun run;
        const bool analysed = measured.problem.isEmpty() && analyseSumRun(measured.history, &run);
        if (runFailed(i, measured, analysed, "the history lacks the entry, the sums, the restart or the end, or shows an erase"))
            return 1;
        const double sumsMs = wireMs(qint64(run.sumRequests) * OurFrames.commandExchange(), options.baud);
        processes.push_back(measured.processMs);
        bounds.push_back(run.entryMs + run.restartMs + sumsMs + SkipAllowanceMs);
        std::printf("run %d: dux-host process %.3f s, click to \"Update completed.\" %.3f s; bootloader entry %.3f s, "
                    "restart %.3f s, %d checksum requests with a line time of %.3f s, bound %.3f s; load average "
                    "%.2f before, %.2f after\n",
                    i, measured.processMs / MsPerSecond, run.wholeMs / MsPerSecond, run.entryMs / MsPerSecond,
                    run.restartMs / MsPerSecond, run.sumRequests, sumsMs / MsPerSecond, bounds.back() / MsPerSecond,
                    measured.loadBefore, BenchStats::loadAverage());
        std::fflush(stdout);
    }
    std::printf("%s_%dbaud_%dKiB: %.3f s whole process (target <= entry + restart + page sums' line time + 2 s = "
                "%.3f s)\n",
                options.verify ? "verify" : "if_changed_skip", options.baud, options.imageBytes / 1024,
                BenchStats::median(processes) / MsPerSecond, BenchStats::median(bounds) / MsPerSecond);
    return 0;
}

// --read-back: each run reads the file's bytes back; the median read against the line time of its requests.
int measureReadBacks(const Options& options, const QString& firmware, const QString& work)
{
    std::vector<double> ratios;
    std::vector<double> seconds;
    for (int i = 1; i <= options.runs; ++i) {
        const Measurement measured = measure(options, firmware, work);
        const QRegularExpressionMatch read = measured.history.match(ReadBackLine);
        if (runFailed(i, measured, read.hasMatch(), "the history lacks the read-back's end"))
            return 1;
        const double readMs = read.captured(1).toDouble() * MsPerSecond;
        const int requests = read.captured(2).toInt();
        const double lineMs = wireMs(qint64(requests) * OurFrames.commandExchange(), options.baud);
        ratios.push_back(readMs / lineMs);
        seconds.push_back(readMs / MsPerSecond);
        std::printf("run %d: read back %d bytes in %.1f s, %d checksum requests with a line time of %.3f s (%.4fx); "
                    "dux-host process %.3f s; load average %.2f before, %.2f after; dux-sim paced %s\n",
                    i, options.imageBytes, readMs / MsPerSecond, requests, lineMs / MsPerSecond, ratios.back(),
                    measured.processMs / MsPerSecond, measured.loadBefore, BenchStats::loadAverage(),
                    qPrintable(measured.pacing));
        std::fflush(stdout);
    }
    std::printf("read_back_%dbaud_%dKiB: %.1f s, %.4f x the line time of its requests\n", options.baud,
                options.imageBytes / 1024, BenchStats::median(seconds), BenchStats::median(ratios));
    return 0;
}

// --late-duplicates: pairs of updates, clean and with every reply copied, and the median of their ratios.
int measureLateDuplicates(const Options& options, const QString& firmware, const QString& work)
{
    QStringList copies;
    for (const QString& phase : CopiedPhases)
        copies << QStringLiteral("late-duplicate@%1:*").arg(phase);
    std::vector<double> ratios;
    for (int i = 1; i <= options.runs; ++i) {
        const Measurement clean = measure(options, firmware, work);
        const Measurement copied = measure(options, firmware, work, copies);
        const Run cleanRun = analyse(clean.history, options.baud, OurFrames);
        const Run copiedRun = analyse(copied.history, options.baud, OurFrames);
        const QString problem = !clean.problem.isEmpty() ? clean.problem
            : !copied.problem.isEmpty()                  ? copied.problem
            : !cleanRun.problem.isEmpty()                ? cleanRun.problem
                                                         : copiedRun.problem;
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "bench_linkupdate: run %d: %s\n", i, qPrintable(problem));
            return 1;
        }
        ratios.push_back(copiedRun.measuredMs / cleanRun.measuredMs);
        std::printf("run %d: clean %.3f s (write phase %.3f s), every reply copied %.3f s (write phase %.3f s): "
                    "%.4fx; load average %.2f before, %.2f after; dux-sim paced %s\n",
                    i, cleanRun.measuredMs / MsPerSecond, cleanRun.writeMeasuredMs / MsPerSecond,
                    copiedRun.measuredMs / MsPerSecond, copiedRun.writeMeasuredMs / MsPerSecond, ratios.back(),
                    clean.loadBefore, BenchStats::loadAverage(), qPrintable(copied.pacing));
        std::fflush(stdout);
    }
    std::printf("late_duplicates_%dbaud_%dKiB_window%d: %.4f x the clean update (target <= %.2f x)\n", options.baud,
                options.imageBytes / 1024, options.window, BenchStats::median(ratios), LateDuplicateTargetRatio);
    return 0;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parse(app.arguments(), &options)) {
        std::fprintf(stderr, "usage: bench_linkupdate [--baud RATE] [--size BYTES] [--runs N] [--window N] "
                             "[--module-window N] [--adapter-latency-ms L] [--if-changed | --verify | --read-back | --late-duplicates]\n");
        return 2;
    }
    QTemporaryDir work;
    const QString firmware = work.filePath(QStringLiteral("firmware.hex"));
    QString error;
    if (!work.isValid() || !BenchProcesses::writeFirmware(firmware, options.imageBytes, &error)) {
        std::fprintf(stderr, "bench_linkupdate: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("dux-host --headless against dux-sim at %d baud, %d program bytes; times from the click to "
                "\"Update completed.\"; lean-frame reference %d bytes per word exchange, our frames %d\n",
                options.baud, options.imageBytes, ReferenceFrames.commandExchange(), OurFrames.commandExchange());
    std::fflush(stdout);

    if (options.ifChanged || options.verify)
        return measureSumRuns(options, firmware, work.path());
    if (options.readBack)
        return measureReadBacks(options, firmware, work.path());
    if (options.lateDuplicates)
        return measureLateDuplicates(options, firmware, work.path());

    std::vector<double> ratios;
    std::vector<double> ourRatios;
    std::vector<double> duplexRatios;
    std::vector<double> seconds;
    for (int i = 1; i <= options.runs; ++i) {
        const Measurement measured = measure(options, firmware, work.path());
        const History& history = measured.history;
        const qint64 sessionBytes = measured.sessionBytes;
        const QString& pacing = measured.pacing;
        const double loadBefore = measured.loadBefore;
        QString problem = measured.problem;
        if (problem.isEmpty()) {
            const Run reference = analyse(history, options.baud, ReferenceFrames);
            const Run ours = analyse(history, options.baud, OurFrames);
            problem = ours.problem;
            if (problem.isEmpty()) {
                ratios.push_back(ours.measuredMs / reference.idealMs);
                ourRatios.push_back(ours.measuredMs / ours.idealMs);
                duplexRatios.push_back(ours.writeMeasuredMs / ours.writeDuplexIdealMs);
                seconds.push_back(ours.measuredMs / MsPerSecond);
                const double otherMs = ours.measuredMs - ours.writeMeasuredMs;
                const double otherIdealMs = ours.idealMs - ours.writeIdealMs;
                const double excessUs = (ours.writeMeasuredMs - ours.writeIdealMs) * 1000 / ours.writeExchanges;
                std::printf("run %d: %.3f s; lean-frame ideal %.3f s (%.4fx), ideal of our frames %.3f s (%.4fx); "
                            "write phase %.3f s, ideal %.3f s (%.4fx, %.0f us more per exchange); the rest %.3f s, "
                            "ideal %.3f s; write phase %.4fx the full-duplex limit %.3f s; %lld bytes on the line in the window, %lld through dux-sim in the whole "
                            "session; load average %.2f before, %.2f after; dux-sim paced %s\n",
                            i, ours.measuredMs / MsPerSecond, reference.idealMs / MsPerSecond, ratios.back(),
                            ours.idealMs / MsPerSecond, ourRatios.back(), ours.writeMeasuredMs / MsPerSecond,
                            ours.writeIdealMs / MsPerSecond, ours.writeMeasuredMs / ours.writeIdealMs, excessUs,
                            otherMs / MsPerSecond, otherIdealMs / MsPerSecond, duplexRatios.back(),
                            ours.writeDuplexIdealMs / MsPerSecond, ours.windowBytes, sessionBytes,
                            loadBefore, BenchStats::loadAverage(), qPrintable(pacing));
                std::fflush(stdout);
            }
        }
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "bench_linkupdate: run %d: %s\n", i, qPrintable(problem));
            return 1;
        }
    }
    if (options.window > 1 || options.adapterLatencyMs > 0) {
        std::printf("update_%dbaud_%dKiB_window%d_module%d_latency%dms: %.3f s whole update; write phase %.4f x "
                    "the full-duplex limit\n",
                    options.baud, options.imageBytes / 1024, options.window, options.moduleWindow,
                    options.adapterLatencyMs, BenchStats::median(seconds), BenchStats::median(duplexRatios));
        return 0;
    }
    const QString name = QStringLiteral("update_%1baud_%2KiB").arg(options.baud).arg(options.imageBytes / 1024);
    const QString target = options.baud == TargetBaud
        ? QStringLiteral("target <= %1 x").arg(TargetRatio, 0, 'f', 2)
        : QStringLiteral("no target; <= %1 x at %2 baud").arg(TargetRatio, 0, 'f', 2).arg(TargetBaud);
    std::printf("%s: %.3f x lean-frame ideal (%s); %.3f x the ideal of our frames\n", qPrintable(name),
                BenchStats::median(ratios), qPrintable(target), BenchStats::median(ourRatios));
    return 0;
}
