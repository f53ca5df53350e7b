// bench_turnaround [--rounds R] [--size BYTES] [--link in-process|pty] [--baud RATE]
// What one flash word of the write phase costs on the tool's whole path (worker -> blocking queued
// signal -> GUI thread -> command handler -> link -> simulated module -> reply), with the module in
// process and with the module in dux-sim behind an unpaced pseudo-terminal, against a bare blocking
// queued round trip of Qt measured in the same round. A word's cost is the time between two steps of the
// progress bar, which the worker moves after every word; the round trips are timed the same way, on
// their receiver. Beside the bare round trip, Qt's floor for what the worker must do per word: the same
// round trip preceded by a queued step of a shown progress bar. Each round yields the ratios of its
// medians; the result is the median of the rounds.
// The dialogue's fixed delays lie outside the write phase and are scaled down (DUX_TIME_SCALE).
// --link runs one link only and no round trips, for a profiler; --baud paces the pseudo-terminal like
// a line of that rate, to see where the time of a paced word goes.

#include "benchprocesses.h"
#include "benchsetup.h"
#include "benchstats.h"
#include "benchtool.h"
#include "blockingroundtrip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int DefaultRounds = 5;
constexpr int DefaultImageBytes = 0x10000;
constexpr int WordBytes = 4;
constexpr double TargetRatio = 1.3;
constexpr const char* TimeScale = "0.01";
constexpr double LowFraction = 0.1;
constexpr double HighFraction = 0.9;

// Median and spread of the time per word (or per round trip), in microseconds.
struct Spread
{
    double low = 0;
    double median = 0;
    double high = 0;
};

Spread spreadOf(const std::vector<qint64>& stampsNs)
{
    const std::vector<double> us = BenchStats::intervalsUs(stampsNs);
    return {BenchStats::percentile(us, LowFraction), BenchStats::median(us), BenchStats::percentile(us, HighFraction)};
}

// Times of the progress bar's steps while it counts the bytes written (its maximum is the image size).
class WriteSteps
{
public:
    WriteSteps(QProgressBar* bar, int imageBytes, const QElapsedTimer& clock)
    {
        QObject::connect(bar, &QProgressBar::valueChanged, &m_context, [this, bar, imageBytes, &clock](int) {
            if (bar->maximum() == imageBytes)
                m_stamps.push_back(clock.nsecsElapsed());
        });
    }
    // The steps since the last call.
    std::vector<qint64> take()
    {
        std::vector<qint64> stamps;
        stamps.swap(m_stamps);
        return stamps;
    }

private:
    QObject m_context;
    std::vector<qint64> m_stamps;
};

}

int main(int argc, char* argv[])
{
    BenchSetup::defaultTimeScale(TimeScale);
    BenchSetup::defaultOffscreen();
    QTemporaryDir home;
    qputenv("DUX_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    const QStringList arguments = app.arguments();
    const int rounds = qMax(1, BenchSetup::intOption(arguments, "--rounds", DefaultRounds));
    const int imageBytes = qMax(WordBytes, BenchSetup::intOption(arguments, "--size", DefaultImageBytes));
    const int words = (imageBytes + WordBytes - 1) / WordBytes;
    const int linkAt = arguments.indexOf(QStringLiteral("--link"));
    const QString onlyLink = linkAt > 0 ? arguments.value(linkAt + 1) : QString();

    QString error;
    const QString firmware = home.filePath(QStringLiteral("firmware.hex"));
    if (!BenchProcesses::writeFirmware(firmware, imageBytes, &error)) {
        std::fprintf(stderr, "bench_turnaround: %s\n", qPrintable(error));
        return 1;
    }
    BenchTool tool;
    struct Link
    {
        const char* name;
        QString key;
    };
    std::vector<Link> links;
    if (onlyLink.isEmpty() || onlyLink == QLatin1String("in-process"))
        links.push_back({"in process", tool.addInProcessModule()});
    if (onlyLink.isEmpty() || onlyLink == QLatin1String("pty"))
        links.push_back({"pty", tool.addPtyModule({QStringLiteral("--baud"),
                                                   QString::number(BenchSetup::intOption(arguments, "--baud", 0))})});
    if (links.empty() || links.back().key.isEmpty()) {
        std::fprintf(stderr, "bench_turnaround: no module: %s\n", qPrintable(tool.errorString()));
        return 1;
    }
    tool.start(true);
    // Qt's floor gets a bar of its own, shown like the tool's.
    QProgressBar floorBar;
    floorBar.resize(tool.progressBar()->size());
    floorBar.show();

    QElapsedTimer clock;
    clock.start();
    WriteSteps steps(tool.progressBar(), imageBytes, clock);
    BlockingRoundTrip roundTrip(clock);
    std::printf("%d words per update; us per word or round trip: median (10th to 90th percentile) and the "
                "median's ratio to the bare round trip of the same round\n", words);
    std::vector<double> bareUs;
    std::vector<std::vector<double>> ratios(links.size() + 1);
    for (int round = 1; round <= rounds; ++round) {
        double bare = 0;
        if (onlyLink.isEmpty()) {
            bare = spreadOf(roundTrip.measure(words)).median;
            const Spread floor = spreadOf(roundTrip.measure(words, &floorBar));
            bareUs.push_back(bare);
            ratios[0].push_back(floor.median / bare);
            std::printf("round %d: bare %.1f; with a bar step %.1f (%.1f to %.1f, %.2fx)", round, bare, floor.median,
                        floor.low, floor.high, ratios[0].back());
        } else {
            std::printf("round %d:", round);
        }
        for (size_t i = 0; i < links.size(); ++i) {
            if (!tool.update(links[i].key, firmware)) {
                std::fprintf(stderr, "\nbench_turnaround: the update %s failed: %s\n", links[i].name,
                             qPrintable(tool.errorString()));
                return 1;
            }
            const Spread word = spreadOf(steps.take());
            ratios[i + 1].push_back(word.median / bare);
            std::printf("; %s %.1f (%.1f to %.1f", links[i].name, word.median, word.low, word.high);
            if (bare > 0)
                std::printf(", %.2fx", ratios[i + 1].back());
            std::printf(")");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    if (!onlyLink.isEmpty())
        return 0;
    std::printf("medians of %d rounds: bare round trip %.1f us; with a bar step %.2fx; unpaced pty %.2fx\n", rounds,
                BenchStats::median(bareUs), BenchStats::median(ratios[0]), BenchStats::median(ratios[2]));
    std::printf("word_turnaround_in_process: %.2f x bare round trip (target <= %.1f x)\n",
                BenchStats::median(ratios[1]), TargetRatio);
    return 0;
}
