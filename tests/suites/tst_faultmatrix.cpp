// Every wire fault of dux-sim at every phase of an update, from the bootloader-entry command on, and a
// Cancel at every phase where it can be pressed, on a serial and on a USB-like link: each run must end
// with one report from the worker (none where the worker never starts) and the outcome the bootloader
// dialogue defines for that fault, within a stated time, with the worker ended and the link as the tool
// leaves it; then the same module is updated again from where the fault left it.

#include "bootloadercommands.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "elapsedclock.h"
#include "moduleserver.h"
#include "serialcommandhandler.h"
#include "simulatedmodule.h"
#include "wirefault.h"
#include "wirerig.h"
#include "workerreportapplication.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <algorithm>

namespace {

using Kind = WireFault::Kind;
using Phase = WireFault::Phase;

// The link the module is served on. A USB-like port goes whenever the module restarts and comes back
// under the next name; the tool follows it, and a restarted module is the tool's to take back.
enum class Link { Serial, Usb };
constexpr Link Links[] = {Link::Serial, Link::Usb};

// A whole update without faults takes about a second at the wire suites' time scale; this covers a loaded machine.
constexpr int RunMs = 15000;
// The dialogue gives up on the restarted module after this many attempts to read its version.
constexpr int ReconnectionAttempts = 100;
// How long a run whose dialogue waits without limit is watched before the user presses Cancel.
constexpr int EndlessWaitWatchedMs = 2000;
// After Cancel the dialogue notices at its next cancel point; a request may still be under way.
constexpr int AfterCancelMs = CommandHandlerInterface::DefaultTimeoutMs + 2000;
// From the report until the worker thread has left.
constexpr int WorkerLeavesMs = 3000;
// Nothing more may happen this long after the run ended: five times the tool's longest delay (5 s) at
// the wire suites' time scale, which a sanitized build on a busy machine needs.
constexpr int QuietMs = 500;
// The host's poll, dux-sim's restart of the port and discovery, and a margin.
constexpr int PortComesBackMs = WireFault::RenamedPortAbsenceMs + 5000;
constexpr int ModuleBackMs = 10000;
// Cells that sit through the long time-outs of the erase (15 s), the write (5 s a try) or the checksum
// (50 s), or through a hundred reconnection attempts, run only when this variable is set (./dux faults):
// the test suite keeps to the cells that end within a few seconds.
constexpr const char* AllCellsVariable = "DUX_FAULTS_ALL";
constexpr int QuickCellWaitMs = CommandHandlerInterface::DefaultTimeoutMs + WireFault::RenamedPortAbsenceMs;
// The detection phase's first request on a serial link is the tool's own check that the module
// reached its bootloader; the dialogue's first version request is the second. On a USB-like link the
// host's discovery asks the re-enumerated module first, so the dialogue's is the third.
constexpr int DialogueDetectionRequest = 2;
constexpr int UsbDialogueDetectionRequest = 3;
// On a USB-like link the restarted firmware is asked by the host's discovery first, then by the tool's
// update call that the port change brings about: that one decides whether the module is back.
constexpr int UsbReconnectRequest = 2;
// How long the tool may take to give the link back once the module is known again.
constexpr int LinkBackMs = ModuleBackMs;
// The matrix's cells run one request at a time, against a module that does not take a window; the
// write phase's faults run again with the module's window, hitting a word with others in flight.
const QStringList OneAtATime{QStringLiteral("--window"), QStringLiteral("0")};
constexpr Kind WindowedKinds[] = {Kind::LostReply,  Kind::CorruptFrame, Kind::DuplicatedReply, Kind::LateReply,
                                  Kind::Stall,      Kind::PortVanishes, Kind::EarlyReply};
constexpr int WindowedFaultRequest = 6;
// A module whose bytes take their time on the line, as at 115200 baud.
const QStringList PacedModule{QStringLiteral("--baud"), QStringLiteral("115200")};
// A module that states a window larger than its receive buffer holds: requests beyond it are lost.
const QStringList OverrunModule{QStringLiteral("--window"), QStringLiteral("16"), QStringLiteral("--rx-buffer"),
                                QStringLiteral("26")};

// The texts with which the dialogue fails, whichever failure it is.
const QStringList FailureTexts = {
    QStringLiteral("Invalid handle @"),
    QStringLiteral("Cannot switch module to bootloader mode!"),
    QStringLiteral(" do not match!"),
    QStringLiteral("Could not read page size!"),
    QStringLiteral("Could not read flash base address!"),
    QStringLiteral("does not match with flash base address"),
    QStringLiteral(" -> File too large!"),
    QStringLiteral("Implausible "), // and the value
    QStringLiteral("Programming error (1) Retry: 9"),
    QStringLiteral("Programming error (2)"),
    QStringLiteral("Checksum read error!"),
    QStringLiteral("Error saving firmware size!"),
    QStringLiteral("Error writing firmware size!"),
    QStringLiteral("Error writing new check sum!"),
    QStringLiteral("Error saving size and check sum!"),
    QStringLiteral("Error saving new checksum!"),
    QStringLiteral("Reconnection canceled."),
};
const QString CanceledText = QStringLiteral("Firmware update canceled.");
const QString PortGoneText = QStringLiteral("The module's port is gone.");

// How a run has to end, derived from the dialogue's rules for the fault.
struct Expectation
{
    bool completed = true;
    // The failure text in the history (the status line shows it too, or "Reconnection failed.").
    QString message;
    // The line after it: why the request it failed on got no reply that carried it out.
    QString reason;
    // Reply time-outs the run sits through, in milliseconds: the fault's share of the time bound.
    int waitedMs = 0;
    // The dialogue waits without limit (it has no attempt limit there): the user cancels.
    bool waitsForCancel = false;
    // The module hangs or its port is gone until it is switched off and on.
    bool powerCycle = false;
    // The port comes back under a new name while or after the run ends.
    bool portReturns = false;
    // The tool gives the link and module back to the host. A USB link it leaves to the host, which makes
    // a new one when the module comes back under a new port: where the port stays, it stays switched off.
    bool linkHandedBack = true;
    // Why the tool's own steps make the cell end otherwise (empty: it must pass).
    QString knownDefect;
    // The worker runs and reports. Where the module is not in its bootloader when the tool looks, the
    // worker never starts: Cancel ends the run with the tool's own completion.
    bool workerRuns = true;
};

QString reportsText(const QList<bool>& reports)
{
    QStringList texts;
    for (bool report : reports)
        texts.append(report ? QStringLiteral("completed") : QStringLiteral("failed"));
    return texts.isEmpty() ? QStringLiteral("none") : texts.join(QStringLiteral(", "));
}

Expectation completedAfter(int waitedMs)
{
    Expectation e;
    e.waitedMs = waitedMs;
    return e;
}

Expectation failedWith(const QString& message, int waitedMs)
{
    Expectation e;
    e.completed = false;
    e.message = message;
    e.waitedMs = waitedMs;
    return e;
}

// One reply that does not arrive readable: the request counts as unanswered once.
Expectation unansweredOnce(Phase phase, int waitedMs)
{
    // The size is stored with one request and no second try; every other phase tries again or does
    // not look at the reply: detection asks again, the page size is asked again, erase and restart
    // replies are not examined, a word is sent again, the checksum is asked once more, the
    // reconnection makes its next attempt.
    if (phase == Phase::Store)
        return failedWith(QStringLiteral("Error saving firmware size!"), waitedMs);
    return completedAfter(waitedMs);
}

// A request the module refuses with status 4 and does not carry out: the reply is no answer to it.
Expectation refused(Phase phase)
{
    switch (phase) {
    case Phase::Erase:
        // The erase reply is not examined: a refused erase leaves the old firmware, and the sums differ.
        return failedWith(QStringLiteral(" do not match!"), 0);
    case Phase::Restart:
        // The bootloader, still running, answers every attempt to read the restarted firmware's version.
        return failedWith(QStringLiteral("Reconnection canceled."), 0);
    default:
        return unansweredOnce(phase, 0);
    }
}

QString silentFor(int ms)
{
    return QStringLiteral("The module did not answer within %1 ms.").arg(ms);
}

// From this request on the module takes nothing in: every request of the run goes unanswered.
Expectation stalled(Phase phase)
{
    const int wordTries = Bootloader::WordTries * Bootloader::WriteTimeoutMs;
    const int reconnection = ReconnectionAttempts * CommandHandlerInterface::DefaultTimeoutMs;
    Expectation e;
    switch (phase) {
    case Phase::Detection:
        e = failedWith(QString(), 0);
        e.waitsForCancel = true;
        break;
    case Phase::Parameters:
        // The page size is asked for until the user cancels; then it counts as not read.
        e = failedWith(QStringLiteral("Could not read page size!"), 0);
        e.reason = silentFor(CommandHandlerInterface::DefaultTimeoutMs);
        e.waitsForCancel = true;
        break;
    case Phase::Erase:
        // The erase reply is not examined; the first word then fails ten times.
        e = failedWith(QStringLiteral("Programming error (1) Retry: 9"), Bootloader::EraseTimeoutMs + wordTries);
        e.reason = silentFor(Bootloader::WriteTimeoutMs);
        break;
    case Phase::Write:
        e = failedWith(QStringLiteral("Programming error (1) Retry: 9"), wordTries);
        e.reason = silentFor(Bootloader::WriteTimeoutMs);
        break;
    case Phase::Verify:
        e = failedWith(QStringLiteral("Checksum read error!"), 2 * Bootloader::ChecksumTimeoutMs);
        e.reason = silentFor(Bootloader::ChecksumTimeoutMs);
        break;
    case Phase::Store:
        e = failedWith(QStringLiteral("Error saving firmware size!"), CommandHandlerInterface::DefaultTimeoutMs);
        e.reason = silentFor(CommandHandlerInterface::DefaultTimeoutMs);
        break;
    case Phase::Restart:
        e = failedWith(QStringLiteral("Reconnection canceled."),
                       CommandHandlerInterface::DefaultTimeoutMs + reconnection);
        break;
    case Phase::Reconnect:
        e = failedWith(QStringLiteral("Reconnection canceled."), reconnection);
        break;
    case Phase::Entry:
        break;
    }
    e.powerCycle = true;
    return e;
}

// The port goes at this request (not carried out). Requests on it fail at once from then on; the tool
// follows a port that comes back under a new name only on a USB link and while the update is under way.
Expectation portGone(Phase phase, bool returnsRenamed, Link link)
{
    Expectation e;
    switch (phase) {
    case Phase::Detection:
    case Phase::Parameters:
        if (returnsRenamed && link == Link::Usb) {
            // The dialogue asks without limit; the tool follows the new port and the run goes on there.
            e = completedAfter(WireFault::RenamedPortAbsenceMs);
        } else {
            e = failedWith(phase == Phase::Parameters ? QStringLiteral("Could not read page size!") : QString(), 0);
            e.waitsForCancel = true;
        }
        break;
    case Phase::Erase:
    case Phase::Write:
        // Ten tries of a word, 250 ms apart, are over before the port is back.
        e = failedWith(QStringLiteral("Programming error (1) Retry: 9"), 0);
        e.reason = PortGoneText;
        break;
    case Phase::Verify:
        e = failedWith(QStringLiteral("Checksum read error!"), 0);
        e.reason = PortGoneText;
        break;
    case Phase::Store:
        e = failedWith(QStringLiteral("Error saving firmware size!"), 0);
        e.reason = PortGoneText;
        break;
    case Phase::Restart:
        // The restart did not reach the module; the link is closed when the dialogue reconnects:
        // "Unable to reconnect" is a successful end.
        e = completedAfter(0);
        break;
    case Phase::Reconnect:
        // A hundred attempts on the closed link take a second at the matrix's time scale, less than
        // the port stays away (at full time they would outlast it).
        e = failedWith(QStringLiteral("Reconnection canceled."), 0);
        break;
    case Phase::Entry:
        break;
    }
    e.powerCycle = !returnsRenamed;
    e.portReturns = returnsRenamed;
    return e;
}

// What the request of the fault's phase waits for when its reply does not arrive readable.
int unansweredWaitMs(Kind kind, Phase phase)
{
    switch (kind) {
    case Kind::LostReply:
    case Kind::WrongBaud:
    case Kind::Stall:
        return WireFault::hostTimeoutMs(phase);
    case Kind::LateReply:
        return WireFault::hostTimeoutMs(phase) + WireFault::LateMarginMs;
    default:
        return 0;
    }
}

// On a USB-like link the dialogue ends with success right after the restart request, whatever became
// of it: no reconnection attempts, the restarted module is the tool's to take back when its port
// comes back. Where the request was not carried out, the module stays in its bootloader.
Expectation restartedOverUsb(Kind kind)
{
    Expectation e = completedAfter(unansweredWaitMs(kind, Phase::Restart));
    switch (kind) {
    case Kind::ErrorStatus:
    case Kind::Stall:
        // The port stays as it is, so the tool waits for a return that never comes.
        e.linkHandedBack = false;
        e.powerCycle = kind == Kind::Stall;
        break;
    case Kind::PortVanishes:
    case Kind::PortRenamed:
    case Kind::BootloaderRestart:
        // The port comes back with the module still in its bootloader; the tool follows it because it
        // waits for the restarted module, finds the bootloader and starts the updater again.
        e.knownDefect = QStringLiteral("a port that comes back with the module still in its bootloader after the "
                                       "run reported is followed, and the tool starts the updater again");
        e.powerCycle = kind == Kind::PortVanishes;
        e.portReturns = kind == Kind::PortRenamed;
        break;
    default:
        break;
    }
    return e;
}

// On a USB-like link the tool's update call that follows the port change reads the restarted module's
// version once: whatever is not a bootloader's answer counts as the firmware being back, so no fault
// there fails the update (on a serial link the dialogue's hundred attempts decide).
Expectation reconnectedOverUsb(Kind kind)
{
    Expectation e = completedAfter(unansweredWaitMs(kind, Phase::Reconnect));
    e.powerCycle = kind == Kind::Stall || kind == Kind::PortVanishes;
    e.portReturns = kind == Kind::PortRenamed;
    return e;
}

// The bootloader-entry command gets no reply. A duplicate reaches a bootloader that ignores it. Where the
// module is not in its bootloader when the tool looks again, 5 s after the command (a lost or corrupt
// command, or a restart slower than that), the tool does not ask again: the update waits until the user
// cancels, and since no version query of the dialogue came, Cancel is freed by the elapsed-time
// watchdog. On a USB-like link the tool looks when the port changes, which a slow restart does later.
Expectation enteredBootloader(Kind kind, Link link)
{
    if (kind == Kind::DuplicatedRequest)
        return completedAfter(0);
    if (kind == Kind::SlowRestart && link == Link::Usb)
        return completedAfter(WireFault::SlowRestartMs + ModuleServer::DefaultReconnectDelayMs);
    Expectation e = failedWith(QString(), int(ElapsedClock::WatchdogMs));
    e.waitsForCancel = true;
    e.workerRuns = false;
    return e;
}

// A failed run on a USB-like link keeps its link switched off: the completion hands back only other
// links, since a USB module comes back on a link of its own; where its port stays, it does not.
void keepFailedUsbLinkOff(Expectation& e, Link link, bool portComesBack)
{
    if (link == Link::Usb && !e.completed && !portComesBack)
        e.linkHandedBack = false;
}

Expectation expectationOf(Kind kind, Phase phase, Link link)
{
    if (link == Link::Usb && phase == Phase::Restart)
        return restartedOverUsb(kind);
    if (link == Link::Usb && phase == Phase::Reconnect)
        return reconnectedOverUsb(kind);
    if (phase == Phase::Entry)
        return enteredBootloader(kind, link);
    switch (kind) {
    case Kind::DuplicatedReply:
    case Kind::StaleReply:
    case Kind::LateDuplicate:
    case Kind::EarlyReply:
    case Kind::Unsolicited:
        // The host takes only the frame with its request's sequence number; the others are dropped.
        return completedAfter(0);
    case Kind::WrongEcho:
    case Kind::UnexpectedStatus:
    case Kind::JunkVersion:
        // Carried out, but the reply is no answer: as if it had not come.
        return unansweredOnce(phase, 0);
    case Kind::ImplausibleValue:
        return failedWith(QStringLiteral("Implausible page size: 3"), 0);
    case Kind::BootloaderRestart:
        return failedWith(QStringLiteral("Reconnection canceled."), 0);
    case Kind::CorruptFrame:
        // A frame that fails its CRC ends the wait after a few frame times.
    case Kind::LostReply:
    case Kind::WrongBaud:
    case Kind::LateReply:
        return unansweredOnce(phase, unansweredWaitMs(kind, phase));
    case Kind::ErrorStatus:
        return refused(phase);
    case Kind::ChecksumMismatch:
        return failedWith(QStringLiteral(" do not match!"), 0);
    case Kind::Stall:
        return stalled(phase);
    case Kind::PortVanishes:
        return portGone(phase, false, link);
    case Kind::PortRenamed:
        return portGone(phase, true, link);
    case Kind::LostRequest:
    case Kind::CorruptRequest:
    case Kind::DuplicatedRequest:
    case Kind::SlowRestart:
        break;
    }
    return Expectation();
}

// Where the user presses Cancel: the status text or history line the dialogue shows in that phase,
// and how the run ends then.
struct CancelPoint
{
    Phase phase;
    const char* shownText; // empty: as soon as Cancel becomes available
    const char* shownOnUsb; // where the USB-like link shows something else
    bool completed;
};
// A Cancel is noticed at the dialogue's next cancel point; from the restart on, a pending Cancel ends
// the reconnection with success. On a USB-like link the dialogue hands the reconnection to the tool
// ("to ready mode") and ends with success at once; once it has reported, Cancel is no longer available.
constexpr CancelPoint CancelPoints[] = {
    {Phase::Detection, "", nullptr, false},
    {Phase::Parameters, "Flash base address: 0x", nullptr, false},
    {Phase::Erase, "Erasing...", nullptr, false},
    {Phase::Write, "Writing 640 bytes...", nullptr, false},
    {Phase::Verify, "Verifying checksum...", nullptr, false},
    {Phase::Store, "Writing checksum 0x", nullptr, false},
    {Phase::Restart, "Restarting module...", nullptr, true},
    {Phase::Reconnect, "to firmware mode", "to ready mode", true},
};

}

class TestFaultMatrix : public QObject
{
    Q_OBJECT
private slots:
    void registeredPhases();

    // One function per phase, so that the phases can run side by side.
    void entry_data() { addCells(Phase::Entry); }
    void entry() { runCell(); }
    void detection_data() { addCells(Phase::Detection); }
    void detection() { runCell(); }
    void parameters_data() { addCells(Phase::Parameters); }
    void parameters() { runCell(); }
    void erase_data() { addCells(Phase::Erase); }
    void erase() { runCell(); }
    void write_data() { addCells(Phase::Write); }
    void write() { runCell(); }
    void verify_data() { addCells(Phase::Verify); }
    void verify() { runCell(); }
    void store_data() { addCells(Phase::Store); }
    void store() { runCell(); }
    void restart_data() { addCells(Phase::Restart); }
    void restart() { runCell(); }
    void reconnect_data() { addCells(Phase::Reconnect); }
    void reconnect() { runCell(); }

private:
    void addCells(Phase phase);
    void addWindowedCells(Link link, const QString& prefix, bool shared);
    void runCell();
    void pressCancelWhenShown(WireRig& rig, const QString& shownText);
    void record(const QString& cell, bool completed, const QString& message, qint64 endedMs, int boundMs);
};

void TestFaultMatrix::registeredPhases()
{
    // CTest runs one entry per phase of the build's list: each phase of the update needs its entry and
    // its function here.
    QCOMPARE(QStringLiteral(DUX_REGISTERED_PHASES).split(QLatin1Char(',')), UpdatePhases::names());
    for (const QString& phase : UpdatePhases::names())
        QVERIFY2(metaObject()->indexOfSlot(qPrintable(phase + QStringLiteral("()"))) >= 0, qPrintable(phase));
}

void TestFaultMatrix::addCells(Phase phase)
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("cancelOn");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<bool>("waitsForCancel");
    QTest::addColumn<bool>("powerCycle");
    QTest::addColumn<bool>("portReturns");
    QTest::addColumn<bool>("linkHandedBack");
    QTest::addColumn<QString>("knownDefect");
    QTest::addColumn<bool>("workerRuns");
    QTest::addColumn<QStringList>("moduleOptions");
    QTest::addColumn<bool>("cancels");
    // The link waits in the event loop as one of several modules at once: the window runs without
    // holding the thread.
    QTest::addColumn<bool>("shared");

    const QString phaseName = WireFault::phaseName(phase);
    const QStringList kinds = WireFault::kindNames();
    for (Link link : Links) {
        const bool usb = link == Link::Usb;
        // Serial cells keep their names; the others carry their link in front.
        const QString prefix = usb ? QStringLiteral("usb:") : QString();
        for (const QString& kindName : kinds) {
            WireFault fault;
            QString error;
            if (!WireFault::parse(kindName + QLatin1Char('@') + phaseName, &fault, &error))
                continue;
            int nth = 1;
            if (phase == Phase::Detection)
                nth = usb ? UsbDialogueDetectionRequest : DialogueDetectionRequest;
            else if (phase == Phase::Reconnect && usb)
                nth = UsbReconnectRequest;
            Expectation e = expectationOf(fault.kind(), phase, link);
            keepFailedUsbLinkOff(e, link, fault.kind() == Kind::PortVanishes || fault.kind() == Kind::PortRenamed);
            if (e.waitedMs > QuickCellWaitMs && !qEnvironmentVariableIsSet(AllCellsVariable))
                continue;
            QTest::newRow(qPrintable(prefix + kindName + QLatin1Char('@') + phaseName))
                << usb << WireFault(fault.kind(), phase, nth).toString() << QString() << e.completed << e.message
                << e.reason << RunMs + e.waitedMs << e.waitsForCancel << e.powerCycle << e.portReturns << e.linkHandedBack
                << e.knownDefect << e.workerRuns << OneAtATime << false << false;
        }
        if (phase == Phase::Write)
            addWindowedCells(link, prefix, false);
        if (phase == Phase::Write && !usb)
            addWindowedCells(link, QStringLiteral("shared:"), true);
        for (const CancelPoint& point : CancelPoints) {
            if (point.phase != phase)
                continue;
            const char* shown = usb && point.shownOnUsb ? point.shownOnUsb : point.shownText;
            Expectation e = point.completed ? completedAfter(0) : failedWith(QString(), 0);
            keepFailedUsbLinkOff(e, link, false);
            QTest::newRow(qPrintable(prefix + QStringLiteral("cancel@") + phaseName))
                << usb << QString() << QString::fromLatin1(shown) << e.completed << QString() << QString() << RunMs << false
                << false << false << e.linkHandedBack << e.knownDefect << true << OneAtATime << true << false;
        }
    }
}

void TestFaultMatrix::addWindowedCells(Link link, const QString& prefix, bool shared)
{
    const bool usb = link == Link::Usb;
    for (Kind kind : WindowedKinds) {
        // The same outcome as one at a time: the window falls back and the word is tried again.
        Expectation e = expectationOf(kind, Phase::Write, link);
        keepFailedUsbLinkOff(e, link, kind == Kind::PortVanishes);
        if (e.waitedMs > QuickCellWaitMs && !qEnvironmentVariableIsSet(AllCellsVariable))
            continue;
        const WireFault fault(kind, Phase::Write, WindowedFaultRequest);
        QTest::newRow(qPrintable(prefix + QStringLiteral("window:") + fault.toString()))
            << usb << fault.toString() << QString() << e.completed << e.message << e.reason << RunMs + e.waitedMs
            << e.waitsForCancel << e.powerCycle << e.portReturns << e.linkHandedBack << e.knownDefect << e.workerRuns
            << QStringList() << false << shared;
    }
    // Every word reply copied 5 ms later on a line paced as a real one: the copies come between the
    // window's replies, never under the sequence number of a request still to come.
    {
        Expectation e = expectationOf(Kind::LateDuplicate, Phase::Write, link);
        const WireFault fault(Kind::LateDuplicate, Phase::Write, WireFault::EveryRequest);
        QTest::newRow(qPrintable(prefix + QStringLiteral("window:paced:") + fault.toString()))
            << usb << fault.toString() << QString() << e.completed << e.message << e.reason << RunMs + e.waitedMs
            << e.waitsForCancel << e.powerCycle << e.portReturns << e.linkHandedBack << e.knownDefect << e.workerRuns
            << PacedModule << false << shared;
    }
    // The lost requests go unanswered: one reply time-out, then the rest one at a time.
    if (!qEnvironmentVariableIsSet(AllCellsVariable))
        return;
    Expectation e = completedAfter(Bootloader::WriteTimeoutMs);
    QTest::newRow(qPrintable(prefix + QStringLiteral("window:rx-buffer-overrun@write")))
        << usb << QString() << QString() << e.completed << e.message << e.reason << RunMs + e.waitedMs
        << e.waitsForCancel << e.powerCycle << e.portReturns << e.linkHandedBack << e.knownDefect << e.workerRuns
        << OverrunModule << false << shared;
}

void TestFaultMatrix::runCell()
{
    QFETCH(bool, usb);
    QFETCH(QString, fault);
    QFETCH(QString, cancelOn);
    QFETCH(bool, completed);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    QFETCH(int, boundMs);
    QFETCH(bool, waitsForCancel);
    QFETCH(bool, powerCycle);
    QFETCH(bool, portReturns);
    QFETCH(bool, linkHandedBack);
    QFETCH(QString, knownDefect);
    QFETCH(bool, workerRuns);
    QFETCH(QStringList, moduleOptions);
    QFETCH(bool, cancels);
    QFETCH(bool, shared);
    WorkerReportApplication* app = WorkerReportApplication::instance();

    WireRig rig;
    QStringList moduleArguments{QStringLiteral("--link"), usb ? QStringLiteral("usb") : QStringLiteral("serial")};
    moduleArguments << moduleOptions;
    if (!fault.isEmpty())
        moduleArguments << QStringLiteral("--fault") << fault;
    QVERIFY(rig.startModule(moduleArguments));
    QVERIFY(rig.startHost());
    QVERIFY(rig.chooseModuleAndFile());
    if (shared) {
        auto* link = qobject_cast<SerialCommandHandler*>(rig.connection()->commandHandler());
        QVERIFY(link);
        link->setWaitInEventLoop(true);
    }
    app->watch(rig.tool());
    if (cancels)
        pressCancelWhenShown(rig, cancelOn);

    QElapsedTimer clock;
    clock.start();
    rig.button("btnUpdate")->click();
    if (!fault.isEmpty()) {
        // A fault that never went off would make the cell prove nothing.
        QTRY_VERIFY_WITH_TIMEOUT(rig.simulatorSaid(QStringLiteral("dux-sim: fault ")), boundMs);
    }
    if (waitsForCancel) {
        QTest::qWait(EndlessWaitWatchedMs);
        QVERIFY2(app->reports().isEmpty(), "the dialogue was to wait");
        QVERIFY2(rig.workerFinished() != workerRuns, "the worker was to run while the update waits");
        if (workerRuns)
            QVERIFY2(rig.button("btnCancel")->isEnabled(), "Cancel must be available while the dialogue waits");
        else
            QTRY_VERIFY2_WITH_TIMEOUT(rig.button("btnCancel")->isEnabled(), "the watchdog must free Cancel",
                                      int(ElapsedClock::WatchdogMs));
        clock.restart();
        rig.button("btnCancel")->click();
        boundMs = AfterCancelMs;
    }
    if (workerRuns)
        QTRY_VERIFY_WITH_TIMEOUT(!app->reports().isEmpty(), boundMs);
    else
        QTRY_VERIFY_WITH_TIMEOUT(rig.historyText().contains(CanceledText), boundMs);
    const qint64 endedMs = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(rig.workerFinished(), WorkerLeavesMs);

    // Where the module hung or its port went, the run is over for the tool once the module is back:
    // switch it off and on, or wait for the new port. Nothing more may happen then.
    if (powerCycle) {
        // The host has to have seen a vanished port go, or it would not take it for a new one.
        if (fault.startsWith(WireFault::kindName(Kind::PortVanishes)))
            QVERIFY(rig.waitForModule(false, ModuleBackMs));
        rig.powerCycle();
    }
    if (portReturns) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.simulatorSaidAfter(QStringLiteral("dux-sim: fault "),
                                                        QStringLiteral("dux-sim: serving ")),
                                 PortComesBackMs);
    }
    QVERIFY(rig.waitForModule(true, ModuleBackMs));
    // A module restarted on a USB-like link is handed back once the tool has found it under its new port.
    if (linkHandedBack)
        static_cast<void>(QTest::qWaitFor([&rig] { return rig.linkHandedBack(); }, LinkBackMs));
    QTest::qWait(QuietMs);

    // One report, with the outcome the dialogue defines.
    if (!knownDefect.isEmpty())
        QEXPECT_FAIL("", qPrintable(knownDefect), Abort);
    const QList<bool> expectedReports = workerRuns ? QList<bool>{completed} : QList<bool>{};
    QVERIFY2(app->reports() == expectedReports && rig.workerFinished(),
             qPrintable(QStringLiteral("reports: %1; worker %2")
                            .arg(reportsText(app->reports()),
                                 rig.workerFinished() ? QStringLiteral("ended") : QStringLiteral("running"))));
    const QString history = rig.historyText();
    if (completed) {
        QVERIFY2(history.contains(QStringLiteral("Update completed.")), qPrintable(history));
    } else if (!message.isEmpty()) {
        QVERIFY2(history.contains(message), qPrintable(history));
        const QString shown = message == QLatin1String("Reconnection canceled.") ? QStringLiteral("Reconnection failed.")
                              : message.startsWith(QLatin1String("Programming error (1)")) ? QStringLiteral("Programming error (1)")
                                                                                            : message;
        QVERIFY2(std::any_of(rig.progressTexts().cbegin(), rig.progressTexts().cend(),
                             [&](const QString& text) { return text.contains(shown); }),
                 qPrintable(rig.progressTexts().join(QLatin1Char('\n'))));
        if (!reason.isEmpty())
            QVERIFY2(history.contains(message + QLatin1Char('\n') + reason), qPrintable(history));
    } else {
        QVERIFY2(history.contains(CanceledText), qPrintable(history));
    }
    for (const QString& text : FailureTexts) {
        if (!message.startsWith(text))
            QVERIFY2(!history.contains(text), qPrintable(QStringLiteral("unexpected \"%1\" in\n%2").arg(text, history)));
    }

    // Judged by the flash, not by the tool: a run that says updated, or that left a module whose restarted
    // firmware claims the file, left the file's bytes and its stored size and checksum there.
    const SimFlash flash = completed ? rig.flashNow() : rig.restartedFlash();
    const bool claimsFile = flash.isValid() && flash.inFirmware()
        && SimulatedModule::findIdentifier(flash.bytes()) == QLatin1String(WireRig::NewFirmware);
    if (completed || claimsFile) {
        QVERIFY2(flash.isValid(), qPrintable(flash.error()));
        QVERIFY2(flash.differenceFrom(rig.firmwareFile()).isEmpty(), qPrintable(flash.differenceFrom(rig.firmwareFile())));
        QVERIFY2(flash.storedDifferenceFrom(rig.firmwareFile()).isEmpty(),
                 qPrintable(flash.storedDifferenceFrom(rig.firmwareFile())));
    }

    // The link is the host's again where the tool gives it back, and the tool is ready for the next update.
    QCOMPARE(rig.linkHandedBack(), linkHandedBack);
    QVERIFY(rig.button("btnRefresh")->isEnabled());
    QVERIFY(!rig.button("btnCancel")->isEnabled());

    // On a serial link the tool does not follow a port that changes (only USB modules re-enumerate): a
    // module whose port was renamed at its restart is waited for under its old name, and this tool starts
    // no second update until it is opened again.
    const bool waitsUnderOldName = !usb && fault.startsWith(WireFault::kindName(Kind::PortRenamed))
        && fault.contains(QLatin1Char('@') + WireFault::phaseName(Phase::Restart));
    if (!waitsUnderOldName)
        rig.updateAndReadBack();
    if (QTest::currentTestFailed())
        return;
    record(QString::fromLatin1(QTest::currentDataTag()), completed, message, endedMs, boundMs);
}

void TestFaultMatrix::pressCancelWhenShown(WireRig& rig, const QString& shownText)
{
    QPushButton* cancel = rig.button("btnCancel");
    // Clicked from the event loop, as a user's click arrives, not from inside the tool's own call.
    const auto press = [cancel] { QTimer::singleShot(0, cancel, [cancel] { cancel->click(); }); };
    auto* once = new QObject(cancel);
    if (shownText.isEmpty()) {
        // The dialogue's first version request makes Cancel available.
        auto* poll = new QTimer(once);
        connect(poll, &QTimer::timeout, once, [cancel, press, once] {
            if (cancel->isEnabled()) {
                press();
                once->deleteLater();
            }
        });
        poll->start(1);
        return;
    }
    const auto watch = [shownText, press, once](const QString& text) {
        if (text.contains(shownText)) {
            press();
            once->deleteLater();
        }
    };
    connect(rig.lineEdit("leProgress"), &QLineEdit::textChanged, once, watch);
    connect(rig.tool()->findChild<QTextEdit*>(QStringLiteral("teHistory")), &QTextEdit::textChanged, once,
            [&rig, watch] { watch(rig.historyText().section(QLatin1Char('\n'), -3)); });
}

void TestFaultMatrix::record(const QString& cell, bool completed, const QString& message, qint64 endedMs,
                             int boundMs)
{
    // ./dux faults collects these lines into the matrix of docs/reliability.md.
    const QString path = qEnvironmentVariable("DUX_FAULT_RESULTS");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                       .arg(cell, completed ? QStringLiteral("completed") : QStringLiteral("failed"))
                       .arg(endedMs)
                       .arg(boundMs)
                       .arg(message.trimmed())
                       .toUtf8());
}

DUX_WIRE_TEST_MAIN(TestFaultMatrix)

#include "tst_faultmatrix.moc"
