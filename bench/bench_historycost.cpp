// bench_historycost [--rounds R] [--lines L]
// Times one history line of the tool (handleDebugMessage, then the event processing that paints it)
// when the history already holds about 100, 1,000, 5,000 and 20,000 lines, on shown windows: R rounds
// of L lines at each point. Beside it, the same line inserted as "message<br>" into one growing
// paragraph, the layout the history had first, for comparison. Run it offscreen
// (QT_QPA_PLATFORM=offscreen) and on a display (xvfb-run) to see both costs.

#include "firmwareupdate.h"
#include "peripherymanager.h"
#include "pluginhandler.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

namespace {

constexpr int Checkpoints[] = {100, 1000, 5000, 20000};
constexpr int DefaultRounds = 20;
constexpr int DefaultLinesPerRound = 10;
constexpr int WindowWidth = 700;
constexpr int WindowHeight = 600;
constexpr double TargetRatio = 2;

// The line the worker sends once per flash page: the hot path of a write, and not echoed.
QString pageLine(int number)
{
    return QStringLiteral("Writing page at address: 0x%1").arg(number * 256, 0, 16);
}

// Nanoseconds of CPU time this thread has used: other processes on a busy machine do not count.
qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Nanoseconds per line, of thread CPU time and of wall time.
struct LineTimes
{
    std::vector<qint64> cpu;
    std::vector<qint64> wall;
};

double medianMs(std::vector<qint64> nanoseconds)
{
    const auto middle = nanoseconds.begin() + nanoseconds.size() / 2;
    std::nth_element(nanoseconds.begin(), middle, nanoseconds.end());
    return double(*middle) / 1e6;
}

// Times `count` calls of `addLine`, each with the event processing that paints its line.
void timeLines(int firstLine, int count, LineTimes& times, const std::function<void(int)>& addLine)
{
    QElapsedTimer timer;
    for (int line = firstLine; line < firstLine + count; ++line) {
        const qint64 cpuStart = threadCpuNs();
        timer.start();
        addLine(line);
        QCoreApplication::processEvents();
        times.wall.push_back(timer.nsecsElapsed());
        times.cpu.push_back(threadCpuNs() - cpuStart);
    }
}

}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    auto option = [&arguments](const char* name, int fallback) {
        const int at = arguments.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < arguments.size() ? qMax(1, arguments.at(at + 1).toInt()) : fallback;
    };
    const int rounds = option("--rounds", DefaultRounds);
    const int linesPerRound = option("--lines", DefaultLinesPerRound);
    const int measured = rounds * linesPerRound;

    QTemporaryDir home;
    qputenv("DUX_HOME", home.path().toLocal8Bit());
    PeripheryManager::instance()->setPortSource([] { return QList<QSerialPortInfo>(); });

    // One tool and one growing paragraph per checkpoint, each filled so that the measured lines lie
    // around it. The rounds visit them in turn, so that a busy spell of the machine hits all alike.
    PluginHandler plugins;
    std::vector<std::unique_ptr<QDialog>> windows;
    std::vector<FirmwareUpdate*> tools;
    std::vector<std::unique_ptr<QTextEdit>> paragraphs;
    std::vector<int> next;
    for (const int checkpoint : Checkpoints) {
        const int first = qMax(0, checkpoint - measured / 2);
        windows.push_back(std::make_unique<QDialog>());
        auto* tool = new FirmwareUpdate(QStringLiteral("bench"), &plugins);
        tool->setParent(windows.back().get());
        tool->init(windows.back().get());
        for (int line = 0; line < first; ++line)
            QMetaObject::invokeMethod(tool, "handleDebugMessage", Q_ARG(QString, pageLine(line)));
        windows.back()->resize(WindowWidth, WindowHeight);
        windows.back()->show();
        tools.push_back(tool);

        paragraphs.push_back(std::make_unique<QTextEdit>());
        QTextEdit* paragraph = paragraphs.back().get();
        paragraph->setReadOnly(true);
        paragraph->resize(WindowWidth, WindowHeight);
        QString html;
        for (int line = 0; line < first; ++line)
            html += pageLine(line) + QStringLiteral("<br>");
        paragraph->setHtml(html);
        paragraph->moveCursor(QTextCursor::End);
        paragraph->show();
        next.push_back(first);
    }
    QCoreApplication::processEvents();

    const size_t points = std::size(Checkpoints);
    std::vector<LineTimes> history(points);
    std::vector<LineTimes> paragraph(points);
    for (int round = 0; round < rounds; ++round) {
        for (size_t point = 0; point < points; ++point) {
            FirmwareUpdate* tool = tools[point];
            QTextEdit* edit = paragraphs[point].get();
            timeLines(next[point], linesPerRound, history[point], [tool](int line) {
                QMetaObject::invokeMethod(tool, "handleDebugMessage", Q_ARG(QString, pageLine(line)));
            });
            timeLines(next[point], linesPerRound, paragraph[point], [edit](int line) {
                edit->insertHtml(pageLine(line) + QStringLiteral("<br>"));
                edit->moveCursor(QTextCursor::End);
                edit->update();
            });
            next[point] += linesPerRound;
        }
    }

    std::printf("platform %s, medians of %d lines per point, ms per line: thread CPU time / wall time\n",
                qPrintable(QGuiApplication::platformName()), measured);
    std::printf("%8s %20s %20s\n", "line", "history", "growing paragraph");
    for (size_t point = 0; point < points; ++point) {
        std::printf("%8d %9.3f / %8.3f %9.3f / %8.3f\n", Checkpoints[point], medianMs(history[point].cpu),
                    medianMs(history[point].wall), medianMs(paragraph[point].cpu), medianMs(paragraph[point].wall));
    }
    std::printf("history_line_cost: %.2f x at line %d against line %d, CPU time (target <= %.0f x)\n",
                medianMs(history.back().cpu) / medianMs(history.front().cpu), Checkpoints[points - 1], Checkpoints[0],
                TargetRatio);
    for (FirmwareUpdate* tool : tools)
        delete tool;
    return 0;
}
