// The update's worker against the end of its surroundings: the tool's window closing, the tool being
// destroyed, and the host quitting, at every phase of a run over dux-sim's wire. Nothing may crash or
// hang; the worker ends; the link is left usable, and the module is updated again afterwards.

#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "wirerig.h"
#include "workerreportapplication.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The erase takes this long in the module, so that the host's window, which keeps its event loop
// going during the erase, can be closed or destroyed in the middle of it.
constexpr int EraseMs = 500;
// Into the erase when the action comes: well after it began, well before it ends.
constexpr int IntoEraseMs = 100;
constexpr int RunMs = 15000;
// Destroying the tool waits for the worker, which meets a cancel point within the dialogue's own
// delays (the longest, the 10 tries of a word 250 ms apart, happen only where no cancel point is).
constexpr int StopBoundMs = 3000;
constexpr int WorkerLeavesMs = 3000;
constexpr int ModuleBackMs = 10000;

enum class Action { CloseWindow, DestroyTool, QuitHost };

// The history line that tells the worker has reached a phase (it writes it just before the phase's
// requests), and whether the action comes while the phase's one request keeps the event loop going.
struct PhasePoint
{
    const char* name;
    const char* line;
    bool duringRequest;
};
constexpr PhasePoint Phases[] = {
    {"detection", "Try to read bootloader version at id", false},
    {"parameters", "are matching.", false},
    {"erase", "Erasing...", true},
    {"write", "Writing 640 bytes...", false},
    {"verify", "Verifying checksum at address", false},
    {"store", "Writing checksum 0x", false},
    {"restart", "Restarting module...", false},
    {"reconnect", "to firmware mode", false},
};

}

Q_DECLARE_METATYPE(Action)

class TestLifetime : public QObject
{
    Q_OBJECT
private slots:
    void endDuringRun_data();
    void endDuringRun();

private:
    // Runs `action` once the history shows `line`: from the event loop, or `IntoEraseMs` later.
    void whenShown(WireRig& rig, const QString& line, bool duringRequest, const std::function<void()>& action);
};

void TestLifetime::endDuringRun_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("duringRequest");
    const QPair<Action, const char*> actions[] = {
        {Action::CloseWindow, "window closed"}, {Action::DestroyTool, "tool destroyed"}, {Action::QuitHost, "host quits"}};
    for (const auto& action : actions) {
        for (const PhasePoint& phase : Phases) {
            QTest::newRow(qPrintable(QStringLiteral("%1 at %2").arg(QLatin1String(action.second), QLatin1String(phase.name))))
                << action.first << QString::fromLatin1(phase.line) << phase.duringRequest;
        }
    }
}

void TestLifetime::endDuringRun()
{
    QFETCH(Action, action);
    QFETCH(QString, line);
    QFETCH(bool, duringRequest);
    WorkerReportApplication* app = WorkerReportApplication::instance();

    auto rig = std::make_unique<WireRig>();
    QVERIFY(rig->startModule({QStringLiteral("--erase-ms"), QString::number(EraseMs)}));
    QVERIFY(rig->startHost());
    QVERIFY(rig->chooseModuleAndFile());
    app->watch(rig->tool());
    const QPointer<FirmwareUpdate> tool = rig->tool();
    const QPointer<DUXLConnectionInterface> link = rig->connection();

    bool acted = false;
    qint64 actionMs = -1;
    whenShown(*rig, line, duringRequest, [&] {
        acted = true;
        QElapsedTimer clock;
        clock.start();
        if (action == Action::CloseWindow)
            rig->closeWindow();
        else if (action == Action::DestroyTool)
            rig->destroyTool();
        actionMs = clock.elapsed();
    });
    rig->button("btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(acted, RunMs);
    if (action == Action::QuitHost) {
        // Quitting leaves the event loop first (also one the erase keeps going); dux-host then takes
        // its objects down in the order of its main().
        QElapsedTimer clock;
        clock.start();
        rig->stopHost();
        actionMs = clock.elapsed();
    }
    QVERIFY2(actionMs <= StopBoundMs, qPrintable(QStringLiteral("took %1 ms").arg(actionMs)));

    switch (action) {
    case Action::CloseWindow:
        // The tool detaches and lives on: the run goes to its end without a window, and the tool
        // comes back in the next one.
        QVERIFY(tool);
        QTRY_COMPARE_WITH_TIMEOUT(app->reports(), QList<bool>{true}, RunMs);
        QTRY_VERIFY_WITH_TIMEOUT(WireRig::workerFinished(), WorkerLeavesMs);
        rig->reopenWindow();
        break;
    case Action::DestroyTool:
        // The worker ends with the tool, or right after the erase request it waits for.
        QTRY_VERIFY_WITH_TIMEOUT(WireRig::workerFinished(), WorkerLeavesMs);
        QVERIFY(!tool);
        // The link is the host's again: the destroyed tool took it for the update.
        QVERIFY(link);
        QVERIFY(rig->linkHandedBack());
        rig->startTool();
        break;
    case Action::QuitHost:
        QVERIFY(WireRig::workerFinished());
        QVERIFY(!tool);
        // Discovery closed the port and let its link go.
        QTRY_VERIFY_WITH_TIMEOUT(!link, WorkerLeavesMs);
        // The port is free: a host started anew opens it.
        QVERIFY(rig->startHost());
        break;
    }
    QVERIFY(rig->waitForModule(true, ModuleBackMs));
    rig->updateAndReadBack();
}

void TestLifetime::whenShown(WireRig& rig, const QString& line, bool duringRequest, const std::function<void()>& action)
{
    auto* once = new QObject(rig.tool());
    auto* history = rig.tool()->findChild<QTextEdit*>(QStringLiteral("teHistory"));
    connect(history, &QTextEdit::textChanged, once, [&rig, history, line, duringRequest, action, once] {
        if (!rig.historyText().section(QLatin1Char('\n'), -3).contains(line))
            return;
        // Not from inside the tool's own slot, which the action may destroy: from the event loop,
        // which during the erase runs inside the request.
        QTimer::singleShot(duringRequest ? IntoEraseMs : 0, QCoreApplication::instance(), action);
        history->disconnect(once);
        once->deleteLater();
    });
}

DUX_WIRE_TEST_MAIN(TestLifetime)

#include "tst_lifetime.moc"
