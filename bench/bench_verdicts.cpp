// False verdicts of --verify, --if-changed and --resume, judged by the simulated module's flash. Each case is a
// module's flash and a file that differs from it (tests/support/flashvariants.h, one family after the
// other, seeded); dux-sim starts with that flash and says it runs the file's identifier, so that only
// the sums decide. dux-host --verify, then --if-changed, then --resume, each with --json; a "verified",
// a "skipped" or a "resumed" whose flash, as dux-sim wrote it at the module's restart, is not the file is
// a false verdict, and so is an "updated" whose flash is not the file. The families sums cannot see (changes within one page)
// are counted apart. Usage: bench_verdicts [--cases N] [--seed S] [--first I]: cases I to I + N - 1, so
// that runs side by side can share a set (the seed of a case depends on its number only).

#include "benchprocesses.h"
#include "benchsetup.h"
#include "firmwarebuilder.h"
#include "flashvariants.h"
#include "simflash.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

constexpr int DefaultCases = 1080;
constexpr int DefaultSeed = 30;
constexpr int HostTimeoutMs = 60000;
constexpr int StopMs = 5000;
constexpr double MsPerSecond = 1000.0;
// The host's own pauses (the restart waits) shortened as the tests shorten them.
constexpr const char* TimeScale = "0.05";

struct Tally
{
    int cases = 0;
    int falseSkips = 0;
    int falseVerifies = 0;
    int falseUpdates = 0;
    int falseResumes = 0;
    // Runs that ended otherwise than verified/differs or skipped/updated.
    int otherEnds = 0;
};

// A verdict that says the module holds the file (or now holds it), and what the flash says of that.
enum class Verdict { Holds, Differs, Other };

struct HostEnd
{
    QString result;
    QString flashDifference;
};

// One dux-host run in `mode` against a module started afresh with `pair`'s flash, running the file's
// identifier (a restart would have it run the flash's); false when dux-sim did not start.
bool runHost(const QString& work, const FlashVariants::Case& pair, const QString& held, const QString& file,
             const char* mode, HostEnd* end)
{
    const QString ports = QDir(work).filePath(QStringLiteral("ports"));
    const QString flashOut = QDir(work).filePath(QStringLiteral("flash"));
    QFile::remove(flashOut);
    QProcess simulator;
    QString problem;
    if (!BenchProcesses::startSimulator(&simulator, ports,
                                        FlashVariants::simulatorArguments(pair, held) << QStringLiteral("--flash-out") << flashOut,
                                        &problem)) {
        std::fprintf(stderr, "bench_verdicts: %s\n", qPrintable(problem));
        return false;
    }
    QProcess host;
    host.setStandardErrorFile(QDir(work).filePath(QStringLiteral("dux-host.log")), QIODevice::Append);
    host.start(BenchProcesses::program("dux-host"),
               {QStringLiteral("--headless"), QLatin1String(mode), QStringLiteral("--json"), QStringLiteral("--port-file"),
                ports, QStringLiteral("--file"), file, QStringLiteral("--addresses"), QStringLiteral("1"),
                QStringLiteral("--probe-ms"), QStringLiteral("200")});
    if (host.waitForFinished(HostTimeoutMs)) {
        const QList<QByteArray> lines = host.readAllStandardOutput().trimmed().split('\n');
        end->result = QJsonDocument::fromJson(lines.last()).object().value(QLatin1String("result")).toString();
    } else {
        host.kill();
        host.waitForFinished();
        end->result = QStringLiteral("timed out");
    }
    // dux-sim writes the flash at the module's restart and again as it ends.
    simulator.terminate();
    if (!simulator.waitForFinished(StopMs))
        simulator.kill();
    const SimFlash flash = SimFlash::read(flashOut);
    end->flashDifference = flash.isValid() ? flash.differenceFrom(file) : flash.error();
    return true;
}

// Runs one case, each run on a module of its own; false when dux-sim did not start.
bool runCase(const QString& work, const FlashVariants::Case& pair, Tally* tally)
{
    const QString held = FirmwareBuilder::writeFile(QDir(work).filePath(QStringLiteral("held.hex")),
                                                    FirmwareBuilder::hexOf(pair.held));
    const QString file = FirmwareBuilder::writeFile(QDir(work).filePath(QStringLiteral("file.hex")),
                                                    FirmwareBuilder::hexOf(pair.file));
    ++tally->cases;
    const auto report = [&pair](const char* what, const HostEnd& end) {
        std::fprintf(stderr, "bench_verdicts: %s, %s (seed %u): %s (%s; result \"%s\")\n", what,
                     qPrintable(FlashVariants::name(pair.family)), pair.seed,
                     qPrintable(pair.change), qPrintable(end.flashDifference),
                     qPrintable(end.result));
    };
    HostEnd verify;
    HostEnd ifChanged;
    HostEnd resume;
    if (!runHost(work, pair, held, file, "--verify", &verify) || !runHost(work, pair, held, file, "--if-changed", &ifChanged)
        || !runHost(work, pair, held, file, "--resume", &resume))
        return false;
    if (verify.result == QLatin1String("verified") && !verify.flashDifference.isEmpty()) {
        ++tally->falseVerifies;
        if (!FlashVariants::isBlindSpot(pair.family))
            report("false verify", verify);
    } else if (verify.result != QLatin1String("differs") && verify.result != QLatin1String("verified")) {
        ++tally->otherEnds;
        report("verify's end", verify);
    }
    if (ifChanged.result == QLatin1String("skipped") && !ifChanged.flashDifference.isEmpty()) {
        ++tally->falseSkips;
        if (!FlashVariants::isBlindSpot(pair.family))
            report("false skip", ifChanged);
    } else if (ifChanged.result == QLatin1String("updated") && !ifChanged.flashDifference.isEmpty()) {
        ++tally->falseUpdates;
        report("false update", ifChanged);
    } else if (ifChanged.result != QLatin1String("updated") && ifChanged.result != QLatin1String("skipped")) {
        ++tally->otherEnds;
        report("if-changed's end", ifChanged);
    }
    // Every family's flash differs from the file: a resume must end with the file in the flash all the same.
    if (!resume.flashDifference.isEmpty()
        && (resume.result == QLatin1String("resumed") || resume.result == QLatin1String("updated"))) {
        const bool resumed = resume.result == QLatin1String("resumed");
        ++(resumed ? tally->falseResumes : tally->falseUpdates);
        if (!resumed || !FlashVariants::isBlindSpot(pair.family))
            report(resumed ? "false resume" : "false update", resume);
    } else if (resume.result != QLatin1String("updated") && resume.result != QLatin1String("resumed")) {
        ++tally->otherEnds;
        report("resume's end", resume);
    }
    return true;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BenchSetup::defaultTimeScale(TimeScale);
    BenchSetup::discardDebugMessages();
    const int cases = qMax(1, BenchSetup::intOption(app.arguments(), "--cases", DefaultCases));
    const quint32 seed = quint32(BenchSetup::intOption(app.arguments(), "--seed", DefaultSeed));
    const int first = BenchSetup::intOption(app.arguments(), "--first", 0);
    QTemporaryDir work;
    // The records of these runs stay out of the user's.
    qputenv("DUX_HOME", QFile::encodeName(QDir(work.path()).filePath(QStringLiteral("home"))));

    const QVector<FlashVariants::Family> families = FlashVariants::families();
    std::map<FlashVariants::Family, Tally> tallies;
    QElapsedTimer clock;
    clock.start();
    for (int i = first; i < first + cases; ++i) {
        const FlashVariants::Family family = families.at(i % families.size());
        if (!runCase(work.path(), FlashVariants::make(family, seed * 100003u + quint32(i), FlashVariants::FileBytes,
                                                  FlashVariants::PageBytes),
                     &tallies[family]))
            return 1;
    }
    const double seconds = double(clock.elapsed()) / MsPerSecond;

    std::printf("%-24s %6s %12s %14s %13s %14s %15s %11s\n", "family", "cases", "false skips", "false verifies",
                "false resumes", "false updates", "blind-spot hits", "other ends");
    int falseVerdicts = 0;
    int total = 0;
    for (const FlashVariants::Family family : families) {
        const Tally& tally = tallies[family];
        const bool blind = FlashVariants::isBlindSpot(family);
        const int hits = tally.falseSkips + tally.falseVerifies + tally.falseResumes;
        falseVerdicts += (blind ? 0 : hits) + tally.falseUpdates + tally.otherEnds;
        total += tally.cases;
        std::printf("%-24s %6d %12d %14d %13d %14d %15s %11d\n", qPrintable(FlashVariants::name(family)), tally.cases,
                    blind ? 0 : tally.falseSkips, blind ? 0 : tally.falseVerifies, blind ? 0 : tally.falseResumes, tally.falseUpdates,
                    blind ? qPrintable(QStringLiteral("%1 (%2+%3+%4)").arg(hits).arg(tally.falseSkips).arg(tally.falseVerifies).arg(tally.falseResumes))
                          : "-",
                    tally.otherEnds);
    }
    std::printf("verdicts: %d cases from %d (seed %u) in %.0f s (%.2f s a case), %d false verdicts or other ends outside the "
                "blind spot (target 0)\n",
                total, first, seed, seconds, seconds / total, falseVerdicts);
    return falseVerdicts == 0 ? 0 : 1;
}
