// bench_guilatency [--size BYTES]
// How late the GUI thread serves a 10 ms timer while the tool's window is shown and the write phase
// runs: the GUI thread carries every device request of the worker, the progress bar and the history.
// Three links, one update each: dux-sim paced like a 115200 baud line, dux-sim unpaced (the GUI thread
// then does little else than serve requests), and a module in process. A single-shot 10 ms timer is
// started again each time it fires; its lateness is the time it fired minus 10 ms after it was started.
// Run it on a display (xvfb-run); the dialogue's fixed delays are scaled down (DUX_TIME_SCALE).

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"
#include "benchtool.h"
#include "timerprobe.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int DefaultImageBytes = 0x8000;
constexpr double TargetP99Ms = 30;
constexpr const char* TimeScale = "0.1";
constexpr const char* PacedBaud = "115200";
constexpr int WindowWidth = 700;
constexpr int WindowHeight = 600;

}

int main(int argc, char* argv[])
{
    BenchSetup::defaultTimeScale(TimeScale);
    QTemporaryDir home;
    qputenv("DUX_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    const int imageBytes = qMax(4, BenchSetup::intOption(app.arguments(), "--size", DefaultImageBytes));

    QString error;
    const QString firmware = home.filePath(QStringLiteral("firmware.hex"));
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error)) {
        std::fprintf(stderr, "bench_guilatency: %s\n", qPrintable(error));
        return 1;
    }
    BenchTool tool;
    struct Link
    {
        const char* name;
        QString key;
    };
    const Link links[] = {
        {"dux-sim at 115200 baud", tool.addPtyModule({QStringLiteral("--baud"), QLatin1String(PacedBaud)})},
        {"dux-sim unpaced", tool.addPtyModule({})},
        {"module in process", tool.addInProcessModule()},
    };
    for (const Link& link : links) {
        if (link.key.isEmpty()) {
            std::fprintf(stderr, "bench_guilatency: %s\n", qPrintable(tool.errorString()));
            return 1;
        }
    }
    tool.start(true);
    tool.window()->resize(WindowWidth, WindowHeight);

    std::printf("platform %s, %d program bytes; lateness of a %d ms timer during the write phase, ms\n",
                qPrintable(QGuiApplication::platformName()), imageBytes, TimerProbe::TimerMs);
    // The write phase: the bar counts the image's bytes.
    const QProgressBar* bar = tool.progressBar();
    TimerProbe probe([bar, imageBytes] { return bar->maximum() == imageBytes && bar->value() > 0; });
    double worstP99 = 0;
    for (const Link& link : links) {
        if (!tool.update(link.key, firmware)) {
            std::fprintf(stderr, "bench_guilatency: the update over %s failed: %s\n", link.name,
                         qPrintable(tool.errorString()));
            return 1;
        }
        const std::vector<double> lateness = probe.take();
        const double p99 = BenchStats::percentile(lateness, 0.99);
        worstP99 = qMax(worstP99, p99);
        std::printf("%-24s %5zu samples: p50 %.2f, p90 %.2f, p99 %.2f, max %.2f\n", link.name, lateness.size(),
                    BenchStats::median(lateness), BenchStats::percentile(lateness, 0.9), p99,
                    BenchStats::percentile(lateness, 1.0));
        std::fflush(stdout);
    }
    std::printf("gui_timer_lateness_p99: %.2f ms, worst of the three links (target <= %.0f ms)\n", worstP99,
                TargetP99Ms);
    return 0;
}
