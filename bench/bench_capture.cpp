// What a capture costs and how fast a capture replays. A 64 KiB update at 115200 baud, dux-host
// --headless against dux-sim paced like the line, in turns without and with --capture in the same run
// (the cost: the median with a capture against the median without); then the last capture played by
// dux-sim --replay, unpaced and at its captured delays, each replay captured in its turn (its time:
// from the first request to the last reply on the line, against the capture's own). What a capture
// costs the links is also timed in process, per packet, for the packets of the update's capture.
// Usage: bench_capture [--baud RATE] [--size BYTES] [--runs N]

#include "benchprocesses.h"
#include "benchstats.h"
#include "capturereader.h"
#include "capturereplay.h"
#include "wirecapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr int DefaultBaud = 115200;
constexpr int DefaultBytes = 65536;
constexpr int DefaultRuns = 3;
constexpr int HostTimeoutMs = 600000;
constexpr int StopMs = 5000;
constexpr double UsPerSecond = 1e6;
constexpr double MsPerSecond = 1e3;
constexpr double NsPerMs = 1e6;
// Packets written in process to time one: a word's request and its reply, this many times.
constexpr int TimedWords = 50000;
// The host's own pauses (the restart waits) shortened as the corpus test shortens them.
constexpr const char* TestTimeScale = "0.05";

struct Options
{
    int baud = DefaultBaud;
    int bytes = DefaultBytes;
    int runs = DefaultRuns;
};

// One dux-host update against a module dux-sim serves with `simulatorArguments`; its time in ms, or
// -1 (and the reason on stderr) when it did not end updated.
double update(const QString& work, const QString& firmware, const QStringList& simulatorArguments,
              const QString& capture, const char* timeScale = nullptr)
{
    const QString ports = QDir(work).filePath(QStringLiteral("ports"));
    QProcess simulator;
    QString problem;
    if (!BenchProcesses::startSimulator(&simulator, ports, simulatorArguments, &problem)) {
        std::fprintf(stderr, "bench_capture: %s\n", qPrintable(problem));
        return -1;
    }
    QStringList arguments{QStringLiteral("--headless"), QStringLiteral("-q"), QStringLiteral("--port-file"), ports,
                          QStringLiteral("--file"), firmware, QStringLiteral("--addresses"), QStringLiteral("1")};
    if (!capture.isEmpty())
        arguments << QStringLiteral("--capture") << capture;
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), QDir(work).filePath(QStringLiteral("home")));
    if (timeScale)
        environment.insert(QStringLiteral("DUX_TIME_SCALE"), QLatin1String(timeScale));
    host.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    host.start(BenchProcesses::program("dux-host"), arguments);
    const bool ended = host.waitForFinished(HostTimeoutMs);
    const double ms = double(clock.elapsed());
    simulator.terminate();
    simulator.waitForFinished(StopMs);
    if (!ended || host.exitStatus() != QProcess::NormalExit || host.exitCode() != 0) {
        std::fprintf(stderr, "bench_capture: dux-host failed: %s\n", host.readAllStandardError().right(500).constData());
        return -1;
    }
    return ms;
}

// From the first request to the last reply of `capture`, in seconds; -1 when it cannot be read.
double spanSeconds(const QString& capture)
{
    CaptureReader reader;
    CaptureReplay replay;
    if (!reader.read(capture) || !replay.load(reader.records()))
        return -1;
    return double(replay.recordedUs()) / UsPerSecond;
}

// What one packet costs the links in process: a write word's request and its reply written to a capture.
double packetNs(const QString& folder)
{
    WireCapture capture;
    if (!capture.open(QDir(folder).filePath(QStringLiteral("timed.pcap"))))
        return -1;
    const QByteArray request(13, '\x5a');
    const QByteArray reply(10, '\x5a');
    const QString port = QStringLiteral("ttySIM0");
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < TimedWords; ++i) {
        capture.noteSent(port, request);
        capture.noteReceived(port, reply);
    }
    return double(clock.nsecsElapsed()) / (2.0 * TimedWords);
}

int packetsOf(const QString& capture)
{
    CaptureReader reader;
    return reader.read(capture) ? reader.records().size() : -1;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const int value = arguments.at(i + 1).toInt();
        if (arguments.at(i) == QLatin1String("--baud"))
            options.baud = value;
        else if (arguments.at(i) == QLatin1String("--size"))
            options.bytes = value;
        else if (arguments.at(i) == QLatin1String("--runs"))
            options.runs = value;
    }
    QTemporaryDir work;
    const QString firmware = QDir(work.path()).filePath(QStringLiteral("firmware.hex"));
    QString problem;
    if (!BenchProcesses::writeFirmware(firmware, options.bytes, &problem)) {
        std::fprintf(stderr, "bench_capture: %s\n", qPrintable(problem));
        return 1;
    }
    const QString capture = QDir(work.path()).filePath(QStringLiteral("update.pcap"));
    const QStringList paced{QStringLiteral("--baud"), QString::number(options.baud)};
    std::vector<double> plain;
    std::vector<double> captured;
    for (int run = 1; run <= options.runs; ++run) {
        const double without = update(work.path(), firmware, paced, QString());
        const double with = update(work.path(), firmware, paced, capture);
        if (without < 0 || with < 0)
            return 1;
        plain.push_back(without);
        captured.push_back(with);
        std::printf("run %d: %.3f s without a capture, %.3f s with one\n", run, without / MsPerSecond, with / MsPerSecond);
    }
    const double plainMs = BenchStats::median(plain);
    const double capturedMs = BenchStats::median(captured);
    const double recorded = spanSeconds(capture);
    const double perPacketNs = packetNs(work.path());
    const int packets = packetsOf(capture);
    std::printf("update of %d bytes at %d baud: median %.3f s without a capture, %.3f s with one (%+.2f %%); "
                "capture %lld bytes, %d packets, %.3f s from the first request to the last reply; a packet costs "
                "%.2f us in process, %.1f ms for the update's packets: %.3f %% of the update (target at most 2 %%)\n",
                options.bytes, options.baud, plainMs / MsPerSecond, capturedMs / MsPerSecond,
                100 * (capturedMs - plainMs) / plainMs, static_cast<long long>(QFileInfo(capture).size()), packets,
                recorded, perPacketNs / 1e3, perPacketNs * packets / NsPerMs, 100 * perPacketNs * packets / NsPerMs / plainMs);

    const QString unpacedCapture = QDir(work.path()).filePath(QStringLiteral("unpaced.pcap"));
    const QString pacedCapture = QDir(work.path()).filePath(QStringLiteral("paced.pcap"));
    const double unpacedMs = update(work.path(), firmware, {QStringLiteral("--replay"), capture, QStringLiteral("--unpaced")},
                                    unpacedCapture, TestTimeScale);
    const double pacedMs = update(work.path(), firmware, {QStringLiteral("--replay"), capture}, pacedCapture);
    if (unpacedMs < 0 || pacedMs < 0)
        return 1;
    const double unpaced = spanSeconds(unpacedCapture);
    const double pacedSpan = spanSeconds(pacedCapture);
    std::printf("replay unpaced, dux-host's pauses shortened 20 times as in the tests: %.3f s on the line (target at "
                "most 5 s), dux-host %.3f s; at the captured delays: "
                "%.3f s on the line, %.3fx the recorded %.3f s (target at most 1.10x), dux-host %.3f s\n",
                unpaced, unpacedMs / MsPerSecond, pacedSpan, pacedSpan / recorded, recorded, pacedMs / MsPerSecond);
    return 0;
}
