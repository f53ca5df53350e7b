#include "basictools.h"
#include "capturereader.h"
#include "capturereplay.h"
#include "wirecapture.h"
#include "command.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "global.h"
#include "linkkindrules.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "portsearch.h"
#include "ptymodule.h"
#include "replayserver.h"
#include "serialcommandhandler.h"
#include "serialconnection.h"
#include "serialportdescription.h"
#include "simulatedmodule.h"
#include "wirefault.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr unsigned char HostAddress = 12;
// Frames of a capture in turn, each with whether the host sent it.
using CapturedFrames = QList<QPair<bool, QByteArray>>;
constexpr unsigned char ParameterCommand = 206;
constexpr unsigned char EraseCommand = 200;
constexpr unsigned char ChecksumCommand = 203;
constexpr int PageSize = 512;
// Slack for the scheduler of a busy two-core machine on top of a time that must pass; well below the
// default time-out, so that "at once" and "after the time-out" stay apart.
constexpr int SchedulingSlackMs = 500;
constexpr qint64 NoiseBytes = 50 * 1000 * 1000;
constexpr qint64 MaxNoiseRssGrowthKb = 5 * 1024;
#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer keeps freed memory in quarantine: the peak then says nothing about what the link holds.
constexpr bool PeakRssTellsWhatTheLinkHolds = false;
#else
constexpr bool PeakRssTellsWhatTheLinkHolds = true;
#endif
constexpr int NoiseTimeoutMs = 120000;
constexpr int ProbeTimeoutMs = 100;
// A parked link lives at least 10 s and is looked at every 2 s.
constexpr int ParkedGraceMs = 10000;
constexpr int ParkedCheckMs = 2000;
constexpr int ParkedReleaseMs = 15000;
constexpr int PollIntervalMs = 50;
// Less than the words' reply time-out (300 ms), long enough for the host to send a whole window.
constexpr int ModuleBusyMs = 100;
constexpr int ReturnTimeoutMs = 5000;

Command parameterRequest(unsigned short type, unsigned char address = 1)
{
    return Command(address, ParameterCommand, type, 0, 0, false, HostAddress);
}

qint64 statusKb(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts a new peak of the resident memory at the present size (Linux's clear_refs); false if it cannot.
bool resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

}

// The host's side of the wire: the serial handler's requests over a pty to a simulated module, the
// discovery of modules on the listed ports, and the host layer around them.
class TestHostLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readsVersionOfEachMode_data();
    void readsVersionOfEachMode();
    void replayAnswersAsCaptured_data();
    void replayAnswersAsCaptured();
    void pacedReplayKeepsTheCapturedOrder();
    void captureReaderTakesOnlyOurs_data();
    void captureReaderTakesOnlyOurs();
    void runsRequestsAndKeepsReplyFields();
    void failedRequestTakes_data();
    void failedRequestTakes();
    void windowedWords_data();
    void windowedWords();
    void windowEndsWithItsLink();
    void lateReplyIsNeverTakenForTheNextRequest();
    void frameOfAnotherKindIsNeverTakenForTheReply_data();
    void frameOfAnotherKindIsNeverTakenForTheReply();
    void repliesNobodyWaitsForAreDropped_data();
    void repliesNobodyWaitsForAreDropped();
    void forcedEventProcessingKeepsTheLoopRunning_data();
    void forcedEventProcessingKeepsTheLoopRunning();
    void dataRates_data();
    void dataRates();
    void openFailureIsLoggedWithPortAndReason_data();
    void openFailureIsLoggedWithPortAndReason();
    void pacedLinkTakesTheTimeOfItsBytes_data();
    void pacedLinkTakesTheTimeOfItsBytes();
    void windowOnASharedThreadEndsWithItsPort();

    void linkKinds_data();
    void linkKinds();
    void portListLines_data();
    void portListLines();
    void registersModulesFoundOnPorts();
    void vanishedPortTakesItsPluginsAlong();
    void usbModuleComesBackUnderItsNewPort();
    void linkOwnedByAnUpdateOutlivesItsPort_data();
    void linkOwnedByAnUpdateOutlivesItsPort();
    void vanishedLinkIsParkedWhileTheHostIsKeptOff_data();
    void vanishedLinkIsParkedWhileTheHostIsKeptOff();
    void rescanFindsAModuleThatAnswersLater();
    void followUpTimeout_data();
    void followUpTimeout();
    void searchDoesNotWait_data();
    void searchDoesNotWait();
    void matchFirmwareVersion_data();
    void matchFirmwareVersion();

private:
    Command pageSizeReply();
    int runWords(QVector<Command>& requests, QVector<Command>& replies, bool* returnedFirst);
    qint64 msUntilPageSizeRequestFails();

    std::unique_ptr<PtyModule> m_module;
    std::unique_ptr<SerialCommandHandler> m_handler;
};

void TestHostLink::initTestCase()
{
    qRegisterMetaType<DUXLModuleInterface*>();
}

void TestHostLink::init()
{
    m_module = std::make_unique<PtyModule>();
    QVERIFY(m_module->isServing());
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->setPageSize(PageSize); });
    m_handler = std::make_unique<SerialCommandHandler>(m_module->port(), DUXLConnectionInterface::Serial);
    QVERIFY(m_handler->openDevice());
}

void TestHostLink::cleanup()
{
    m_handler.reset();
    m_module.reset();
}

// What the handler gives back for one page-size request.
Command TestHostLink::pageSizeReply()
{
    Command request = parameterRequest(0);
    Command reply;
    m_handler->doDirectRequest(&request, &reply);
    return reply;
}

// Runs the words as an update's write phase does: on the thread, or (a link that shares its thread)
// carried on by its event loop. `returnedFirst`: the call returned before the words were over.
// The places of `commands`, as a page of windowed words is handed over.
static QVector<Command*> pointersTo(QVector<Command>& commands)
{
    QVector<Command*> pointers;
    for (Command& command : commands)
        pointers.append(&command);
    return pointers;
}

int TestHostLink::runWords(QVector<Command>& requests, QVector<Command>& replies, bool* returnedFirst)
{
    std::optional<int> done;
    // A loop of its own rather than QTest::qWaitFor, which sleeps between its rounds of events.
    QEventLoop loop;
    m_handler->startWindowedRequests(pointersTo(requests), pointersTo(replies), [&done, &loop](int carriedOut) {
        done = carriedOut;
        loop.quit();
    });
    *returnedFirst = !done;
    if (!done) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done.value_or(-1);
}

// How many milliseconds the handler took to give up on one page-size request; -1 if a valid reply came.
qint64 TestHostLink::msUntilPageSizeRequestFails()
{
    QElapsedTimer clock;
    clock.start();
    return pageSizeReply().isValid() ? -1 : clock.elapsed();
}

void TestHostLink::readsVersionOfEachMode_data()
{
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("expected");
    // Bytes the module streams unasked before the query, of this pattern (empty: random bytes), while
    // the host is idle or keeps asking for the version meanwhile.
    QTest::addColumn<qint64>("noiseBytes");
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("askDuringNoise");

    const QByteArray startBytes(1, char(DuxlFrame::StartOfFrame));
    QTest::newRow("firmware") << false << 1 << "1234V101" << 0LL << QByteArray() << false;
    QTest::newRow("bootloader") << true << 1 << "1234B101" << 0LL << QByteArray() << false;
    QTest::newRow("nobody at that address") << false << 2 << "" << 0LL << QByteArray() << false;
    QTest::newRow("after start bytes streamed to an idle host") << false << 1 << "1234V101" << NoiseBytes
                                                                << startBytes << false;
    QTest::newRow("through random bytes streamed while asked") << false << 1 << "1234V101" << NoiseBytes
                                                              << QByteArray() << true;
}

void TestHostLink::readsVersionOfEachMode()
{
    QFETCH(bool, bootloader);
    QFETCH(int, address);
    QFETCH(QString, expected);
    QFETCH(qint64, noiseBytes);
    QFETCH(QByteArray, noise);
    QFETCH(bool, askDuringNoise);

    const qint64 rssBeforeKb = statusKb("VmRSS");
    QVERIFY(resetPeakRss());
    m_module->run([&](SimulatedModule* module, ModuleServer* server) {
        module->setMode(bootloader ? SimulatedModule::Mode::Bootloader : SimulatedModule::Mode::Firmware);
        server->streamNoise(noiseBytes, noise);
    });
    m_handler->setMaxTimeoutMS(200);
    int asked = 0;
    int answered = 0;
    const auto sendingNoise = [this] {
        bool sending = false;
        m_module->run([&](SimulatedModule*, ModuleServer* server) { sending = server->isSendingNoise(); });
        return sending;
    };
    while (askDuringNoise && sendingNoise()) {
        ++asked;
        answered += m_handler->getFirmwareVersion(quint8(address)) == expected;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!sendingNoise(), NoiseTimeoutMs);
    if (noiseBytes > 0 && !askDuringNoise)
        QTRY_COMPARE(m_handler->unsolicitedBytes(), noiseBytes);
    QCOMPARE(m_handler->getFirmwareVersion(quint8(address)), expected);
    const qint64 growthKb = statusKb("VmHWM") - rssBeforeKb;
    if (PeakRssTellsWhatTheLinkHolds)
        QVERIFY2(growthKb < MaxNoiseRssGrowthKb, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(growthKb)));
    // Replies were found among the noise while the decoder held no more than a few frames.
    if (askDuringNoise)
        QVERIFY2(answered > 0, qPrintable(QStringLiteral("%1 of %2 answered").arg(answered).arg(asked)));
    // The link is fine afterwards.
    QVERIFY(!m_handler->getFirmwareVersion(1).isEmpty());
}

void TestHostLink::runsRequestsAndKeepsReplyFields()
{
    m_module->run([](SimulatedModule* module, ModuleServer*) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        module->setFlashBase(0x8000000);
    });
    Command request = parameterRequest(0);
    Command reply;
    m_handler->doDirectRequest(&request, &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.command(), ParameterCommand);
    QCOMPARE(reply.value(), PageSize);
    QCOMPARE(reply.status(), SimulatedModule::StatusOk);
    QCOMPARE(reply.moduleAddress(), quint8(1));

    // The same pair used again, as a retry does: the reply is filled afresh.
    request = parameterRequest(1);
    m_handler->doDirectRequest(&request, &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.value(), 0x8000000);

    // A command the bootloader does not know still gets a well-formed reply with its status.
    request = Command(1, 207, 0, 0, 0, false, HostAddress);
    m_handler->doDirectRequest(&request, &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.status(), SimulatedModule::StatusInvalidCommand);
    QCOMPARE(m_handler->requestFailure(), QStringLiteral("The module refused the request with status 2."));
}

void TestHostLink::failedRequestTakes_data()
{
    QTest::addColumn<int>("failure"); // -1: none, else a SimulatedModule::FailureMode on the page-size request
    QTest::addColumn<int>("timeoutMs"); // 0: reset to the default
    QTest::addColumn<bool>("closed");
    QTest::addColumn<int>("expectedMs");
    QTest::addColumn<QString>("reason"); // what the handler tells the user
    const int noReply = int(SimulatedModule::FailureMode::NoReply);
    QTest::newRow("no reply, time-out raised for one request")
        << noReply << 300 << false << 300 << "The module did not answer within 300 ms.";
    QTest::newRow("no reply, time-out back to the default")
        << noReply << 0 << false << int(CommandHandlerInterface::DefaultTimeoutMs)
        << "The module did not answer within 1000 ms.";
    QTest::newRow("corrupt reply ends the wait at once")
        << int(SimulatedModule::FailureMode::InvalidReply) << 5000 << false << 0
        << "The module's reply arrived corrupt.";
    QTest::newRow("closed port answers at once")
        << -1 << 5000 << true << 0 << "The module's port is gone.";
}

void TestHostLink::failedRequestTakes()
{
    QFETCH(int, failure);
    QFETCH(int, timeoutMs);
    QFETCH(bool, closed);
    QFETCH(int, expectedMs);
    QFETCH(QString, reason);

    m_module->run([failure](SimulatedModule* module, ModuleServer*) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        if (failure >= 0)
            module->setFailure(SimulatedModule::FailureMode(failure), ParameterCommand);
    });
    m_handler->setMaxTimeoutMS(77);
    if (timeoutMs > 0)
        m_handler->setMaxTimeoutMS(timeoutMs);
    else
        m_handler->resetMaxTimeoutMS();
    if (closed)
        m_handler->closeDevice();
    QCOMPARE(m_handler->isDeviceOpen(), !closed);
    // What the capture holds of the failed request: nothing is sent on a closed port.
    QTemporaryDir folder;
    WireCapture capture;
    QVERIFY(capture.open(folder.filePath(QStringLiteral("wire.pcap"))));
    m_handler->setWireCapture(&capture);
    const auto detachCapture = qScopeGuard([this] { m_handler->setWireCapture(nullptr); });

    const qint64 elapsed = msUntilPageSizeRequestFails();
    QVERIFY2(elapsed >= expectedMs && elapsed < expectedMs + SchedulingSlackMs, qPrintable(QString::number(elapsed)));
    capture.close();
    CaptureReader reader;
    QVERIFY2(reader.read(capture.path()), qPrintable(reader.errorString()));
    const bool sent = std::any_of(reader.records().begin(), reader.records().end(), [](const CaptureRecord& record) {
        return record.event == CaptureRecord::Event::Data && record.direction == CaptureRecord::Direction::HostToModule;
    });
    QCOMPARE(sent, !closed);
    QCOMPARE(m_handler->requestFailure(), reason);

    // The link is fine once the fault is gone, and the reason goes with the next answer.
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->clearFailures(); });
    QVERIFY(m_handler->openDevice());
    const Command reply = pageSizeReply();
    QVERIFY(reply.isValid());
    QCOMPARE(reply.value(), PageSize);
    QCOMPARE(m_handler->requestFailure(), QString());
}

void TestHostLink::windowedWords_data()
{
    QTest::addColumn<int>("moduleWindow"); // 0: the module leaves the question unanswered
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("rxBuffer");
    QTest::addColumn<int>("failure"); // -1: none, else a FailureMode on the fifth word
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("carriedOut"); // -1: fewer than all, as many as the overrun left
    QTest::addColumn<QString>("reason");
    // The link shares its thread with others (several modules at once): the window must not hold it.
    QTest::addColumn<bool>("shared");
    const int words = 24;
    const int requestBytes = 13;
    const QString noAnswer = QStringLiteral("The module did not answer within 300 ms.");
    const QString corrupt = QStringLiteral("The module's reply arrived corrupt.");
    const int lost = int(SimulatedModule::FailureMode::NoReply);
    const int invalid = int(SimulatedModule::FailureMode::InvalidReply);
    QTest::newRow("module takes four") << 4 << 16 << 0 << -1 << 4 << 1 << words << "" << false;
    QTest::newRow("limit below the module's") << 16 << 2 << 0 << -1 << 2 << 1 << words << "" << false;
    QTest::newRow("module's answer above the most kept") << 255 << 16 << 0 << -1 << 16 << 1 << words << "" << false;
    QTest::newRow("limit 1 does not ask") << 4 << 1 << 0 << -1 << 1 << 0 << words << "" << false;
    QTest::newRow("module without a window") << 0 << 16 << 0 << -1 << 1 << 1 << words << "" << false;
    QTest::newRow("receive buffer as large as the window stated")
        << 4 << 16 << 4 * requestBytes << -1 << 4 << 1 << words << "" << false;
    QTest::newRow("receive buffer smaller than the window stated")
        << 16 << 16 << 4 * requestBytes << -1 << 16 << 1 << -1 << noAnswer << false;
    QTest::newRow("lost reply: a later one comes first") << 4 << 16 << 0 << lost << 4 << 1 << 4 << noAnswer << false;
    QTest::newRow("corrupt reply") << 4 << 16 << 0 << invalid << 4 << 1 << 4 << corrupt << false;
    QTest::newRow("thread shared: module takes four") << 4 << 16 << 0 << -1 << 4 << 1 << words << "" << true;
    QTest::newRow("thread shared: limit below the module's") << 16 << 2 << 0 << -1 << 2 << 1 << words << "" << true;
    QTest::newRow("thread shared: module without a window") << 0 << 16 << 0 << -1 << 1 << 1 << words << "" << true;
    QTest::newRow("thread shared: receive buffer smaller than the window stated")
        << 16 << 16 << 4 * requestBytes << -1 << 16 << 1 << -1 << noAnswer << true;
    QTest::newRow("thread shared: lost reply") << 4 << 16 << 0 << lost << 4 << 1 << 4 << noAnswer << true;
    QTest::newRow("thread shared: corrupt reply") << 4 << 16 << 0 << invalid << 4 << 1 << 4 << corrupt << true;
}

void TestHostLink::windowedWords()
{
    QFETCH(int, moduleWindow);
    QFETCH(int, limit);
    QFETCH(int, rxBuffer);
    QFETCH(int, failure);
    QFETCH(int, window);
    QFETCH(int, questions);
    QFETCH(int, carriedOut);
    QFETCH(QString, reason);
    QFETCH(bool, shared);

    m_handler->setWaitInEventLoop(shared);
    m_module->run([&](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setWindow(moduleWindow);
        server->setRxBufferBytes(rxBuffer);
        if (failure >= 0)
            module->setFailure(SimulatedModule::FailureMode(failure), 201, 5, 1);
    });
    m_handler->setWindowLimit(limit);
    m_handler->setMaxTimeoutMS(300);
    QVector<Command> requests;
    QVector<Command> replies(24);
    for (int i = 0; i < replies.size(); ++i)
        requests.append(Command(1, 201, quint16(i), 0, 0x1000 + i, false, HostAddress));
    QCOMPARE(m_handler->requestWindow(), window);
    // Asked once per opening: a second look costs nothing on the wire.
    QCOMPARE(m_handler->requestWindow(), window);
    bool returnedFirst = false;
    // The window's first requests arrive together, however the machine schedules the two ends: what
    // overruns a small receive buffer then does so every time.
    if (rxBuffer > 0)
        m_module->holdFor(ModuleBusyMs);
    const int done = runWords(requests, replies, &returnedFirst);
    QCOMPARE(returnedFirst, window > 1);
    if (carriedOut >= 0)
        QCOMPARE(done, carriedOut);
    else
        QVERIFY2(done < replies.size(), qPrintable(QString::number(done)));
    QCOMPARE(m_handler->requestFailure(), reason);
    // No word is taken unless its own reply said so.
    for (int i = 0; i < replies.size(); ++i)
        QCOMPARE(replies.at(i).isValid() && replies.at(i).command() == 201, i < done);

    QVector<Command> heard;
    int asked = -1;
    qint64 lost = -1;
    m_module->run([&](SimulatedModule* module, ModuleServer* server) {
        heard = module->requests();
        asked = server->windowQuestions();
        lost = server->lostRequestBytes();
    });
    QCOMPARE(asked, questions);
    QCOMPARE(lost > 0, carriedOut < 0);
    // The words reach the module in their order, each once, up to where the window stopped.
    for (int i = 0; i < qMin(done, heard.size()); ++i)
        QCOMPARE(heard.at(i).value(), 0x1000 + i);
    if (carriedOut >= 0)
        QVERIFY(heard.size() >= done);

    // Whatever was still due was collected: the next request gets its own reply.
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->clearFailures(); });
    QCOMPARE(pageSizeReply().value(), PageSize);
}

// A link that goes with a page of words in flight still calls back, once: the worker and the count of its
// requests out are waiting for it.
void TestHostLink::windowEndsWithItsLink()
{
    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setWindow(4);
    });
    QCOMPARE(m_handler->requestWindow(), 4);
    QVector<Command> requests(8, Command(1, 201, 0, 0, 0x1000, false, HostAddress));
    QVector<Command> replies(requests.size());
    m_module->holdFor(ModuleBusyMs);
    QList<int> told;
    m_handler->startWindowedRequests(pointersTo(requests), pointersTo(replies), [&told](int carriedOut) { told.append(carriedOut); });
    QVERIFY(told.isEmpty());
    m_handler.reset();
    QCOMPARE(told, QList<int>{0});
}

void TestHostLink::lateReplyIsNeverTakenForTheNextRequest()
{
    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setEraseTimeMs(300);
    });
    m_handler->setMaxTimeoutMS(50);
    Command erase(1, EraseCommand, 0, 0, 0, false, HostAddress);
    Command eraseReply;
    m_handler->doDirectRequest(&erase, &eraseReply);
    QVERIFY(!eraseReply.isValid());

    // The erase answer arrives while this request waits; only the page-size answer may be taken.
    m_handler->setMaxTimeoutMS(2000);
    const Command reply = pageSizeReply();
    QVERIFY(reply.isValid());
    QCOMPARE(reply.command(), ParameterCommand);
    QCOMPARE(reply.value(), PageSize);
}

void TestHostLink::frameOfAnotherKindIsNeverTakenForTheReply_data()
{
    // A silent module leaves nothing but the other kind's frames: they must not stand in for its reply.
    QTest::addColumn<bool>("moduleAnswers");
    QTest::newRow("module answers") << true;
    QTest::newRow("module silent") << false;
}

void TestHostLink::frameOfAnotherKindIsNeverTakenForTheReply()
{
    QFETCH(bool, moduleAnswers);

    // Version replies with every sequence number stream in while page sizes are asked: one carries
    // each request's number, ahead of its reply in the line.
    QByteArray versionReplies;
    for (int sequence = 0; sequence <= DuxlFrame::SequenceMask; ++sequence)
        versionReplies += DuxlFrame::encodeVersionReply(quint8(sequence), QStringLiteral("1234V101"));
    constexpr qint64 StreamBytes = 2 * 1000 * 1000;
    m_module->run([&versionReplies, moduleAnswers](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        if (!moduleAnswers)
            module->setFailure(SimulatedModule::FailureMode::NoReply, ParameterCommand);
        server->streamNoise(StreamBytes, versionReplies);
    });
    m_handler->setMaxTimeoutMS(2000);
    for (int request = 0; request < 4; ++request) {
        const Command reply = pageSizeReply();
        if (!moduleAnswers)
            QVERIFY2(!reply.isValid(), qPrintable(reply.toString()));
        QVERIFY2(!reply.isValid() || (reply.command() == ParameterCommand && reply.value() == PageSize),
                 qPrintable(reply.toString()));
    }
    const auto sendingNoise = [this] {
        bool sending = false;
        m_module->run([&](SimulatedModule*, ModuleServer* server) { sending = server->isSendingNoise(); });
        return sending;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!sendingNoise(), NoiseTimeoutMs);
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->clearFailures(); });
    QCOMPARE(pageSizeReply().value(), PageSize);
}

void TestHostLink::repliesNobodyWaitsForAreDropped_data()
{
    QTest::addColumn<int>("kind"); // WireFault::Kind, at every page-size request
    QTest::addColumn<int>("idleMs"); // the host does something else this long between two requests
    QTest::addColumn<bool>("waitInEventLoop");
    QTest::addColumn<bool>("whileWaiting"); // some of them come while a request waits: skipped and counted
    QTest::addColumn<bool>("nodeGone"); // the device node is removed at the start: the port then closes

    for (bool nested : {false, true}) {
        const QString wait = nested ? QStringLiteral(", nested wait") : QStringLiteral(", plain wait");
        QTest::newRow(qPrintable(QStringLiteral("late duplicate, busy host") + wait))
            << int(WireFault::Kind::LateDuplicate) << 0 << nested << true << false;
        QTest::newRow(qPrintable(QStringLiteral("late duplicate, idle host") + wait))
            << int(WireFault::Kind::LateDuplicate) << 20 << nested << false << false;
        QTest::newRow(qPrintable(QStringLiteral("reply ahead of its request") + wait))
            << int(WireFault::Kind::EarlyReply) << 20 << nested << false << false;
        QTest::newRow(qPrintable(QStringLiteral("unsolicited replies") + wait))
            << int(WireFault::Kind::Unsolicited) << 20 << nested << false << false;
        // The only reply echoes another command: taken once no reply of its own has come.
        QTest::newRow(qPrintable(QStringLiteral("another command's echo") + wait))
            << int(WireFault::Kind::WrongEcho) << 20 << nested << false << false;
    }
    QTest::newRow("late duplicate, device node gone") << int(WireFault::Kind::LateDuplicate) << 20 << false << false
                                                      << true;
}

// Replies no request waits for (late copies, replies ahead of their request, replies never asked for)
// are dropped and counted: the port stays open, and every request gets its own answer. Each request
// comes as a queued call, as the update's worker sends it, so that it may run before the port's read
// notification for bytes that came while the host was busy elsewhere.
void TestHostLink::repliesNobodyWaitsForAreDropped()
{
    QFETCH(int, kind);
    QFETCH(int, idleMs);
    QFETCH(bool, waitInEventLoop);
    QFETCH(bool, whileWaiting);
    QFETCH(bool, nodeGone);
    constexpr int Requests = 40;
    m_module->run([kind](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setPacingRate(SerialCommandHandler::DefaultDataRate);
        server->addWireFault(WireFault(WireFault::Kind(kind), WireFault::Phase::Parameters, WireFault::EveryRequest));
    });
    const QTemporaryDir folder;
    if (nodeGone) {
        // The device opened under a name that then goes, as a USB adapter's node goes when it is pulled.
        m_handler.reset();
        const QString node = folder.filePath(QStringLiteral("ttyNODE"));
        QVERIFY(QFile::link(m_module->port().systemLocation(), node));
        m_handler = std::make_unique<SerialCommandHandler>(describeSerialPort(QStringLiteral("ttyNODE"), node), DUXLConnectionInterface::Serial);
        QVERIFY(m_handler->openDevice());
        QVERIFY(QFile::remove(node));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("serial port error: the device went away")));
    }
    m_handler->setWaitInEventLoop(waitInEventLoop);
    for (int i = 0; i < Requests && m_handler->isDeviceOpen(); ++i) {
        QThread::msleep(static_cast<unsigned long>(idleMs));
        std::optional<Command> reply;
        // The event loop's own non-blocking reads leave errno at EAGAIN, which the port's read
        // notification then finds when it reads nothing.
        QMetaObject::invokeMethod(
            this,
            [this, &reply] {
                reply = pageSizeReply();
                errno = EAGAIN;
            },
            Qt::QueuedConnection);
        while (!reply)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (nodeGone)
            continue;
        QVERIFY2(reply->isValid(), qPrintable(QStringLiteral("request %1: %2").arg(i).arg(m_handler->requestFailure())));
        QCOMPARE(reply->value(), PageSize);
    }
    QCOMPARE(m_handler->isDeviceOpen(), !nodeGone);
    if (whileWaiting)
        QVERIFY(m_handler->droppedReplies() > 0);
    if (kind != int(WireFault::Kind::WrongEcho))
        QVERIFY(m_handler->droppedReplies() + m_handler->unsolicitedBytes() > 0);
}

void TestHostLink::forcedEventProcessingKeepsTheLoopRunning_data()
{
    QTest::addColumn<bool>("force");
    QTest::newRow("events processed") << true;
    QTest::newRow("plain wait") << false;
}

void TestHostLink::forcedEventProcessingKeepsTheLoopRunning()
{
    QFETCH(bool, force);
    constexpr int EraseMs = 600;
    constexpr int TickMs = 20;

    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setEraseTimeMs(EraseMs);
    });
    int ticks = 0;
    // A request made from the loop the erase keeps running must be refused, not mixed into its wait.
    Command second(1, EraseCommand, 0, 0, 0, false, HostAddress);
    Command secondReply;
    secondReply.setReply(1, EraseCommand, 100, 0);
    QTimer painter;
    connect(&painter, &QTimer::timeout, [&] {
        if (++ticks == 1)
            m_handler->doDirectRequest(&second, &secondReply);
    });
    painter.start(TickMs);

    m_handler->setMaxTimeoutMS(15000);
    m_handler->setForceProcessEvents(force);
    if (force)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused a request made while another one waits")));
    Command erase(1, EraseCommand, 0, 0, 0, false, HostAddress);
    Command reply;
    m_handler->doDirectRequest(&erase, &reply);
    QVERIFY(reply.isValid());
    if (force) {
        QVERIFY2(ticks >= EraseMs / TickMs / 6, qPrintable(QString::number(ticks)));
        QVERIFY(!secondReply.isValid());
        QCOMPARE(m_handler->requestFailure(), QStringLiteral("Another request still waits on the module's link."));
    } else {
        QCOMPARE(ticks, 0);
    }
}

void TestHostLink::dataRates_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("115200") << 115200 << true;
    QTest::newRow("zero") << 0 << false;
}

void TestHostLink::dataRates()
{
    QFETCH(int, rate);
    QFETCH(bool, accepted);
    const int before = m_handler->dataRate();
    // Discovery sets the rate before it opens the port: a closed port must refuse a bad rate too.
    m_handler->closeDevice();
    QCOMPARE(m_handler->setDataRate(rate), accepted);
    QVERIFY(m_handler->openDevice());
    QCOMPARE(m_handler->setDataRate(rate), accepted);
    QCOMPARE(m_handler->dataRate(), accepted ? rate : before);
    QCOMPARE(m_handler->getFirmwareVersion(1), QStringLiteral("1234V101"));
}

void TestHostLink::openFailureIsLoggedWithPortAndReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sameDevice"); // the open port's device under another name (a symbolic link)
    QTest::addColumn<QString>("warning"); // before the reason
    QTest::addColumn<QString>("reason");  // %1: the path opened
    QTest::newRow("no such device") << "ttyNOPE9" << false << "ttyNOPE9 .*" << "No such file or directory";
    QTest::newRow("device already open under another name")
        << "ttyTWIN" << true << "" << "port ttyTWIN is in use: another program holds the lock on its device %1";
}

void TestHostLink::openFailureIsLoggedWithPortAndReason()
{
    QFETCH(QString, name);
    QFETCH(bool, sameDevice);
    QFETCH(QString, warning);
    QFETCH(QString, reason);

    const QTemporaryDir folder;
    const QString path = folder.filePath(name);
    if (sameDevice)
        QVERIFY(QFile::link(m_module->port().systemLocation(), path));
    if (reason.contains(QLatin1String("%1")))
        reason = reason.arg(path);
    SerialCommandHandler handler(describeSerialPort(name, path), DUXLConnectionInterface::Serial);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QLatin1Char('^') + warning + QRegularExpression::escape(reason)));
    QVERIFY(!handler.openDevice());
    QVERIFY(!handler.isDeviceOpen());
    QVERIFY2(handler.errorString().endsWith(reason), qPrintable(handler.errorString()));

    // The lock goes with the first opener's port.
    m_handler->closeDevice();
    QCOMPARE(handler.openDevice(), sameDevice);
}

void TestHostLink::pacedLinkTakesTheTimeOfItsBytes_data()
{
    QTest::addColumn<int>("limit");
    // What each word costs on the line at least, and (0: no bound) what it must beat.
    QTest::addColumn<int>("leastBytes");
    QTest::addColumn<int>("beatenBytes");
    // The link shares its thread with others.
    QTest::addColumn<bool>("shared");
    const int exchangeBytes = 13 + 10;
    QTest::newRow("one at a time") << 1 << exchangeBytes << 0 << false;
    // The replies come back while the next requests are on the line: faster than one at a time can be.
    QTest::newRow("window") << 16 << 13 << exchangeBytes << false;
    QTest::newRow("window, thread shared") << 16 << 13 << exchangeBytes << true;
}

void TestHostLink::pacedLinkTakesTheTimeOfItsBytes()
{
    QFETCH(int, limit);
    QFETCH(int, leastBytes);
    QFETCH(int, beatenBytes);
    QFETCH(bool, shared);
    constexpr int Rate = 115200;
    constexpr int Words = 200;
    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setPacingRate(Rate);
    });
    m_handler->setWindowLimit(limit);
    QVector<Command> requests(Words, Command(1, 201, 0, 0, 0x5A5A, false, HostAddress));
    QVector<Command> replies(Words);
    m_handler->setWaitInEventLoop(shared);
    QVERIFY(m_handler->requestWindow() >= 1);
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(10);
    QElapsedTimer clock;
    clock.start();
    bool returnedFirst = false;
    QCOMPARE(runWords(requests, replies, &returnedFirst), Words);
    // One millisecond for the clock's whole milliseconds and the pacer's whole nanoseconds per byte.
    const qint64 elapsed = clock.elapsed() + 1;
    // The words take a hundred ticks' line time and more. A window leaves the thread free meanwhile, shared
    // or not (the GUI's, in a window); one word at a time holds it, and it saw none.
    QCOMPARE(ticks > 1, limit > 1);
    const auto lineMs = [](int bytesPerWord) { return Words * bytesPerWord * 10 * 1000.0 / Rate; };
    // How close a run comes to the lower bound depends on the machine's load; bench_linkupdate measures it.
    QVERIFY2(elapsed >= lineMs(leastBytes), qPrintable(QStringLiteral("%1 ms, least %2 ms").arg(elapsed).arg(lineMs(leastBytes))));
    if (beatenBytes > 0)
        QVERIFY2(elapsed < lineMs(beatenBytes),
                 qPrintable(QStringLiteral("%1 ms, one at a time takes %2 ms").arg(elapsed).arg(lineMs(beatenBytes))));
}

// A window that does not hold the thread ends as soon as its port closes, not at the reply time-out.
void TestHostLink::windowOnASharedThreadEndsWithItsPort()
{
    constexpr int Words = 200;
    constexpr int ClosedAfterMs = 50;
    constexpr int TimeoutMs = 3000;
    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setPacingRate(SerialCommandHandler::DefaultDataRate);
    });
    m_handler->setWaitInEventLoop(true);
    m_handler->setMaxTimeoutMS(TimeoutMs);
    QVector<Command> requests(Words, Command(1, 201, 0, 0, 0x5A5A, false, HostAddress));
    QVector<Command> replies(Words);
    QTimer::singleShot(ClosedAfterMs, m_handler.get(), [this] { m_handler->closeDevice(); });
    QElapsedTimer clock;
    clock.start();
    bool returnedFirst = false;
    QVERIFY(runWords(requests, replies, &returnedFirst) < Words);
    QVERIFY(clock.elapsed() < TimeoutMs);
    QVERIFY(returnedFirst);
    QCOMPARE(m_handler->requestFailure(), QStringLiteral("The module's port is gone."));
}

void TestHostLink::linkKinds_data()
{
    QTest::addColumn<QSerialPortInfo>("port");
    QTest::addColumn<int>("kind");
    const int usb = DUXLConnectionInterface::Usb;
    const int serial = DUXLConnectionInterface::Serial;
    QTest::newRow("simulated USB module") << describeSerialPort(QStringLiteral("ttySIM3"), QStringLiteral("/dev/pts/3"),
                                                                QStringLiteral("DUXL USB device"))
                                          << usb;
    QTest::newRow("simulated serial module")
        << describeSerialPort(QStringLiteral("ttySIM4"), QStringLiteral("/dev/pts/4"),
                              QStringLiteral("DUXL serial device"))
        << serial;
    // What the port list says wins over the name.
    QTest::newRow("listed serial module under a CDC-ACM name")
        << describeSerialPort(QStringLiteral("ttyACM1"), QStringLiteral("/dev/pts/5"), QStringLiteral("DUXL serial device"))
        << serial;
    QTest::newRow("CDC-ACM device") << describeSerialPort(QStringLiteral("ttyACM0")) << usb;
    QTest::newRow("USB serial adapter") << describeSerialPort(QStringLiteral("ttyUSB0")) << serial;
    QTest::newRow("on-board UART") << describeSerialPort(QStringLiteral("ttyS0")) << serial;
}

void TestHostLink::linkKinds()
{
    QFETCH(QSerialPortInfo, port);
    QFETCH(int, kind);
    QCOMPARE(LinkKindRules::kindOfPort(port.portName(), port.description()), kind);
}

void TestHostLink::portListLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("ports"); // name and LinkKindRules name of each port read
    QTest::newRow("serial and USB") << QByteArray("ttyA0\t/dev/pts/3\tserial\nttyB0\t/dev/pts/4\tusb\n")
                                    << QStringList{"ttyA0 Serial", "ttyB0 USB"};
    QTest::newRow("kind in capitals") << QByteArray("ttyA0\t/dev/pts/3\tUSB\n") << QStringList();
    QTest::newRow("empty port name") << QByteArray("\t/dev/pts/3\tserial\n") << QStringList();
    QTest::newRow("empty location") << QByteArray("ttyA0\t\tserial\n") << QStringList();
    QTest::newRow("two fields") << QByteArray("ttyA0\t/dev/pts/3\n") << QStringList();
    QTest::newRow("four fields") << QByteArray("ttyA0\t/dev/pts/3\tserial\tx\n") << QStringList();
    QTest::newRow("unknown kind, next line read")
        << QByteArray("ttyA0\t/dev/pts/3\tradio\nttyB0\t/dev/pts/4\tserial\n") << QStringList{"ttyB0 Serial"};
}

void TestHostLink::portListLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, ports);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("ports")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    QStringList read;
    for (const QSerialPortInfo& port : PortListFile::read(file.fileName()))
        read.append(port.portName() + QLatin1Char(' ')
                    + QLatin1String(LinkKindRules::forKind(LinkKindRules::kindOfPort(port.portName(), port.description())).name));
    QCOMPARE(read, ports);
}

void TestHostLink::registersModulesFoundOnPorts()
{
    PtyModule first(DUXLConnectionInterface::Serial, QStringLiteral("ttyA"));
    PtyModule second(DUXLConnectionInterface::Serial, QStringLiteral("ttyB"));
    second.run([](SimulatedModule* module, ModuleServer*) {
        module->setAddress(3);
        module->setBootloaderVersion(QStringLiteral("4711B200"));
        module->setMode(SimulatedModule::Mode::Bootloader);
    });
    const QSerialPortInfo dead = describeSerialPort(QStringLiteral("ttyDEAD0"), QStringLiteral("/nonexistent/ttyDEAD0"));

    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    QSignalSpy added(&discovery, &ModuleDiscovery::moduleAdded);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ttyDEAD0 .*No such file or directory")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ttyDEAD0 cannot be opened")));
    discovery.update({first.port(), dead, second.port()});

    QCOMPARE(handler.getModulePluginKeys(true),
             QStringList({QStringLiteral("ttyA0/DUX1234/id1"), QStringLiteral("ttyB0/DUX4711/id3")}));
    QCOMPARE(added.count(), 2);

    DUXLModuleInterface* module = handler.getModulePlugin(QStringLiteral("ttyB0/DUX4711/id3"));
    QVERIFY(module);
    QCOMPARE(module->moduleAddress(), quint8(3));
    QCOMPARE(module->nameInFirmware(), QStringLiteral("4711"));
    QCOMPARE(module->moduleName(), QStringLiteral("DUX4711"));
    QCOMPARE(handler.connectionKey(module->key()), QStringLiteral("ttyB0/Serial"));
    DUXLConnectionInterface* connection = handler.getConnectionPlugin(QStringLiteral("ttyB0/Serial"));
    QCOMPARE(module->connectionInterface(), connection);
    QCOMPARE(connection->interfaceType(), int(DUXLConnectionInterface::Serial));
    CommandHandlerInterface* commands = connection->commandHandler();
    QVERIFY(commands->isDeviceOpen());
    QCOMPARE(commands->property("dpComPort").toString(), QStringLiteral("ttyB0"));
    QCOMPARE(commands->maxTimeoutMS(), int(CommandHandlerInterface::DefaultTimeoutMs));
    QCOMPARE(commands->getFirmwareVersion(3), QStringLiteral("4711B200"));
}

void TestHostLink::vanishedPortTakesItsPluginsAlong()
{
    PtyModule first(DUXLConnectionInterface::Serial, QStringLiteral("ttyC"));
    PtyModule second(DUXLConnectionInterface::Serial, QStringLiteral("ttyD"));
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    discovery.update({first.port(), second.port()});
    QCOMPARE(handler.getModulePluginKeys(true).size(), 2);

    QSignalSpy removed(&discovery, &ModuleDiscovery::moduleRemoved);
    QPointer<DUXLConnectionInterface> gone = handler.getConnectionPlugin(QStringLiteral("ttyC0/Serial"));
    discovery.update({second.port()});
    QCOMPARE(handler.getModulePluginKeys(true), QStringList({QStringLiteral("ttyD0/DUX1234/id1")}));
    QVERIFY(!handler.getConnectionPlugin(QStringLiteral("ttyC0/Serial")));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(0).value<DUXLModuleInterface*>()->key(), QStringLiteral("ttyC0/DUX1234/id1"));
    QTRY_VERIFY(gone.isNull());
}

void TestHostLink::usbModuleComesBackUnderItsNewPort()
{
    QTemporaryDir folder;
    const QString portList = folder.filePath(QStringLiteral("ports"));
    PtyModule usb(DUXLConnectionInterface::Usb, QStringLiteral("ttyU"), portList);
    usb.run([](SimulatedModule*, ModuleServer* server) { server->setReconnectDelayMs(100); });

    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    discovery.start();
    PeripheryManager* ports = PeripheryManager::instance();
    ports->setPortSource([portList] { return PortListFile::read(portList); });
    ports->checkActualUSBDevices(false);
    QCOMPARE(handler.getModulePluginKeys(true), QStringList({QStringLiteral("ttyU0/DUX1234/id1")}));
    DUXLConnectionInterface* connection = handler.getConnectionPlugin(QStringLiteral("ttyU0/USB"));
    QCOMPARE(connection->interfaceType(), int(DUXLConnectionInterface::Usb));
    QVERIFY(connection->commandHandler()->objectName().startsWith(QLatin1String("USB construct No: ")));
    // The module is the USB device: once it answered, the other probe addresses are not asked.
    int versionQueries = 0;
    usb.run([&versionQueries](SimulatedModule* module, ModuleServer*) { versionQueries = module->versionQueryCount(); });
    QCOMPARE(versionQueries, 1);

    // The bootloader-entry command restarts the module, which comes back as the next port: a re-plug,
    // not a port error.
    Command entry(1, SimulatedModule::EnterBootloaderCommand, SimulatedModule::EnterBootloaderType,
                  SimulatedModule::EnterBootloaderBank, SimulatedModule::EnterBootloaderValue, false, 12);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^ttyU0 .* left its port \\(a USB re-plug\\)$")));
    connection->commandHandler()->doDirectRequestWithoutReply(&entry);
    // The handler closes the port that went under it and refuses requests on it.
    QTRY_VERIFY(!connection->commandHandler()->isDeviceOpen());
    QVERIFY(connection->commandHandler()->getFirmwareVersion(1).isEmpty());
    ports->setPollInterval(PollIntervalMs);
    QTRY_COMPARE_WITH_TIMEOUT(handler.getModulePluginKeys(true), QStringList({QStringLiteral("ttyU1/DUX1234/id1")}),
                              ReturnTimeoutMs);
    ports->setPollInterval(0);
    DUXLModuleInterface* module = handler.getModulePlugin(QStringLiteral("ttyU1/DUX1234/id1"));
    QCOMPARE(module->connectionInterface()->commandHandler()->getFirmwareVersion(1), QStringLiteral("1234B101"));
    QCOMPARE(handler.connectionKey(module->key()), QStringLiteral("ttyU1/USB"));

    ports->setPortSource(nullptr);
    disconnect(ports, nullptr, &discovery, nullptr);
}

void TestHostLink::linkOwnedByAnUpdateOutlivesItsPort_data()
{
    // How long the update thread stays after the port went, and how long after that the parked link
    // is looked at once more (it must still be there): past a check within the grace time, or past the
    // grace time while the thread runs.
    QTest::addColumn<int>("threadMs");
    QTest::addColumn<int>("keptMs");
    QTest::newRow("update ends at once") << 100 << ParkedCheckMs + ParkedCheckMs / 4;
    QTest::newRow("update runs past the grace time") << ParkedGraceMs + ParkedCheckMs + ParkedCheckMs / 4 << 0;
}

void TestHostLink::linkOwnedByAnUpdateOutlivesItsPort()
{
    QFETCH(int, threadMs);
    QFETCH(int, keptMs);

    PtyModule module(DUXLConnectionInterface::Serial, QStringLiteral("ttyE"));
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    discovery.update({module.port()});
    QPointer<DUXLConnectionInterface> connection = handler.getConnectionPlugin(QStringLiteral("ttyE0/Serial"));
    QVERIFY(connection);
    connection->setActive(false);
    connection->setEnabled(false);

    // An update thread still runs: its handler must stay valid though the port went away.
    Global::instance(false)->registerThread(Qt::HANDLE(this), QStringLiteral("FW update"));
    discovery.update({});
    QVERIFY(handler.getModulePluginKeys(true).isEmpty());
    QVERIFY(!handler.getConnectionPlugin(QStringLiteral("ttyE0/Serial")));
    QTest::qWait(threadMs);
    QVERIFY(connection);
    QVERIFY(!connection->commandHandler()->isDeviceOpen());
    Global::instance(false)->unregisterThread(Qt::HANDLE(this));
    QTest::qWait(keptMs);
    QVERIFY(connection);
    // With the thread gone the parked link is released at the next check after its grace time.
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), ParkedReleaseMs);
}

void TestHostLink::vanishedLinkIsParkedWhileTheHostIsKeptOff_data()
{
    // An update switches its link off for the host (inactive, disabled); either alone keeps it parked.
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("parked");
    QTest::newRow("in the host's use") << true << true << false;
    QTest::newRow("inactive") << false << true << true;
    QTest::newRow("disabled") << true << false << true;
}

void TestHostLink::vanishedLinkIsParkedWhileTheHostIsKeptOff()
{
    QFETCH(bool, active);
    QFETCH(bool, enabled);
    QFETCH(bool, parked);

    PtyModule module(DUXLConnectionInterface::Serial, QStringLiteral("ttyP"));
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    discovery.update({module.port()});
    QPointer<DUXLConnectionInterface> connection = handler.getConnectionPlugin(QStringLiteral("ttyP0/Serial"));
    QVERIFY(connection);
    connection->setActive(active);
    connection->setEnabled(enabled);

    discovery.update({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(!connection.isNull(), parked);
}

void TestHostLink::rescanFindsAModuleThatAnswersLater()
{
    PtyModule module(DUXLConnectionInterface::Serial, QStringLiteral("ttyF"));
    module.run([](SimulatedModule* simulated, ModuleServer*) {
        simulated->setFailure(SimulatedModule::FailureMode::NoReply, SimulatedModule::VersionQuery);
    });
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(ProbeTimeoutMs);
    discovery.setProbeAddresses({1, 2});
    discovery.update({module.port()});
    QVERIFY(handler.getModulePluginKeys(true).isEmpty());

    module.run([](SimulatedModule* simulated, ModuleServer*) { simulated->clearFailures(); });
    discovery.update({module.port()}); // an unchanged list does not ask again
    QVERIFY(handler.getModulePluginKeys(true).isEmpty());
    discovery.rescan();
    QCOMPARE(handler.getModulePluginKeys(true), QStringList({QStringLiteral("ttyF0/DUX1234/id1")}));
}

void TestHostLink::followUpTimeout_data()
{
    QTest::addColumn<int>("firstAnswerMs");
    QTest::addColumn<int>("dataRate");
    QTest::addColumn<int>("probeMs");
    QTest::addColumn<int>("expectedMs");
    // Twice the first answer, the longest version exchange (42 bytes) on the line, 20 ms of margin.
    QTest::newRow("quick answer at 115200 baud") << 2 << 115200 << 1000 << 4 + 4 + 20;
    QTest::newRow("slow line at 9600 baud") << 60 << 9600 << 1000 << 120 + 44 + 20;
    QTest::newRow("behind an adapter's latency timer") << 150 << 115200 << 1000 << 300 + 4 + 20;
    QTest::newRow("never above the probe time-out") << 600 << 115200 << 1000 << 1000;
    QTest::newRow("a shorter probe time-out wins") << 2 << 115200 << 10 << 10;
}

void TestHostLink::followUpTimeout()
{
    QFETCH(int, firstAnswerMs);
    QFETCH(int, dataRate);
    QFETCH(int, probeMs);
    QFETCH(int, expectedMs);
    QCOMPARE(PortSearch::followUpTimeoutMs(firstAnswerMs, dataRate, probeMs), expectedMs);
}

void TestHostLink::searchDoesNotWait_data()
{
    QTest::addColumn<int>("ports");
    QTest::addColumn<int>("address");      // of each port's module; addresses 1 to 4 are asked
    QTest::addColumn<int>("probeMs");
    QTest::addColumn<int>("withinMs");     // searched one after another, or waiting out every address: far more
    // Without the bound after the first answer: three whole time-outs, 3000 ms.
    QTest::newRow("one module at the first address") << 1 << 1 << 1000 << 1000;
    // One port after another: 3 x 3 x 400 ms = 3600 ms; side by side 1200 ms.
    QTest::newRow("three ports side by side") << 3 << 4 << 400 << 2400;
}

void TestHostLink::searchDoesNotWait()
{
    QFETCH(int, ports);
    QFETCH(int, address);
    QFETCH(int, probeMs);
    QFETCH(int, withinMs);

    std::vector<std::unique_ptr<PtyModule>> modules;
    QList<QSerialPortInfo> portInfos;
    QStringList expected;
    for (int i = 0; i < ports; ++i) {
        const QString prefix = QStringLiteral("ttyQ%1x").arg(i);
        modules.push_back(std::make_unique<PtyModule>(DUXLConnectionInterface::Serial, prefix));
        modules.back()->run([address](SimulatedModule* module, ModuleServer*) { module->setAddress(address); });
        portInfos.append(modules.back()->port());
        expected.append(QStringLiteral("%1/DUX1234/id%2").arg(modules.back()->port().portName()).arg(address));
    }
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeTimeoutMs(probeMs);
    QElapsedTimer clock;
    clock.start();
    discovery.update(portInfos);
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(handler.getModulePluginKeys(true), expected);
    QVERIFY2(elapsedMs < withinMs, qPrintable(QStringLiteral("%1 ms").arg(elapsedMs)));
    // Every address was asked, each port's link is registered open with the default time-out back.
    for (const std::unique_ptr<PtyModule>& module : modules) {
        int versionQueries = 0;
        module->run([&versionQueries](SimulatedModule* simulated, ModuleServer*) {
            versionQueries = simulated->versionQueryCount();
        });
        QCOMPARE(versionQueries, 4);
    }
    CommandHandlerInterface* link = handler.getModulePlugin(expected.first())->connectionInterface()->commandHandler();
    QVERIFY(link->isDeviceOpen());
    QCOMPARE(link->maxTimeoutMS(), int(CommandHandlerInterface::DefaultTimeoutMs));
}

void TestHostLink::matchFirmwareVersion_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bootloader text") << "1234B101" << "1234V567" << "1234";
    QTest::newRow("other module type") << "4321V567" << "1234V567" << "";
    QTest::newRow("three-digit type") << "123B1.00" << "123V4.56" << "123";
    QTest::newRow("three against four digits") << "123B1.00" << "1234V567" << "";
    QTest::newRow("leading C is part of type") << "C123B100" << "C123V456" << "C123";
    QTest::newRow("leading C missing on module") << "123B1000" << "C123V456" << "";
    QTest::newRow("no letter at all") << "12345678" << "12345678" << "";
}

void TestHostLink::matchFirmwareVersion()
{
    QFETCH(QString, module);
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QCOMPARE(BasicTools::matchFirmwareVersion(module, file, 0), expected);
}

// A capture of one port: `frames` in turn, a millisecond apart.
QList<CaptureRecord> captureOf(const CapturedFrames& frames)
{
    QList<CaptureRecord> records{{0, CaptureRecord::Event::Module, CaptureRecord::Direction::HostToModule,
                                  QStringLiteral("ttyR0"), "ttyR0/DUX1234/id1"}};
    qint64 atUs = 0;
    for (const auto& frame : frames) {
        atUs += 1000;
        records.append({atUs, CaptureRecord::Event::Data,
                        frame.first ? CaptureRecord::Direction::HostToModule : CaptureRecord::Direction::ModuleToHost,
                        QStringLiteral("ttyR0"), frame.second});
    }
    return records;
}

void TestHostLink::replayAnswersAsCaptured_data()
{
    QTest::addColumn<CapturedFrames>("captured");
    QTest::addColumn<QList<QByteArray>>("requests");
    QTest::addColumn<QByteArray>("replies"); // all the replies to `requests`, in order
    QTest::addColumn<QString>("departure");
    const Command pageSize(1, 206, 0, 0, 0, false, HostAddress);
    const Command flashBase(1, 206, 1, 0, 0, false, HostAddress);
    const QByteArray pageSizeReply = DuxlFrame::encodeCommandReply(3, 206, 100, 256);
    QTest::newRow("renumbered") << CapturedFrames{{true, DuxlFrame::encodeCommandRequest(3, pageSize, true)},
                                                                  {false, pageSizeReply}}
                                << QList<QByteArray>{DuxlFrame::encodeCommandRequest(9, pageSize, true)}
                                << DuxlFrame::encodeCommandReply(9, 206, 100, 256) << QString();
    // 31 is followed by 0; the window answer keeps its sequence 0, and counts as no request of the others.
    QTest::newRow("wrapped-window")
        << CapturedFrames{{true, DuxlFrame::encodeWindow(16)}, {false, DuxlFrame::encodeWindow(4)},
                                          {true, DuxlFrame::encodeVersionRequest(31, 1)},
                                          {false, DuxlFrame::encodeVersionReply(31, QStringLiteral("1234B101"))}}
        << QList<QByteArray>{DuxlFrame::encodeWindow(16), DuxlFrame::encodeVersionRequest(2, 1)}
        << DuxlFrame::encodeWindow(4) + DuxlFrame::encodeVersionReply(2, QStringLiteral("1234B101")) << QString();
    QTest::newRow("another-type-departs")
        << CapturedFrames{{true, DuxlFrame::encodeCommandRequest(3, pageSize, true)}, {false, pageSizeReply}}
        << QList<QByteArray>{DuxlFrame::encodeCommandRequest(3, flashBase, true), DuxlFrame::encodeCommandRequest(4, pageSize, true)}
        << QByteArray()
        << "request 1 departs from the capture: expected command 206 type 0 bank 0 value 0 to address 1, got command 206 "
           "type 1 bank 0 value 0 to address 1";
    QTest::newRow("past-the-end")
        << CapturedFrames{{true, DuxlFrame::encodeCommandRequest(3, pageSize, true)}, {false, pageSizeReply}}
        << QList<QByteArray>{DuxlFrame::encodeCommandRequest(3, pageSize, true), DuxlFrame::encodeCommandRequest(4, pageSize, true)}
        << pageSizeReply << "request 2 (command 206 type 0 bank 0 value 0 to address 1) comes after the last one of the capture";
}

// dux-sim --replay answers each request with the captured module's reply, renumbered to it; the first
// request that departs ends the replies.
void TestHostLink::replayAnswersAsCaptured()
{
    QFETCH(CapturedFrames, captured);
    QFETCH(QList<QByteArray>, requests);
    QFETCH(QByteArray, replies);
    QFETCH(QString, departure);
    CaptureReplay replay;
    QVERIFY(replay.load(captureOf(captured)));
    QCOMPARE(replay.port(), QStringLiteral("ttyR0"));
    QByteArray answered;
    for (const QByteArray& request : requests) {
        const DuxlFrame frame = DuxlFrame::fromBytes(request.constData(), request.size());
        for (const CaptureReplay::Reply& reply : replay.answer(frame)) {
            answered += reply.frame;
            QCOMPARE(reply.delayUs, qint64(1000));
        }
    }
    QCOMPARE(answered.toHex(' '), replies.toHex(' '));
    QCOMPARE(replay.departure(), departure);
}

// Two words of a window that reach the replay in one read: the second's reply came sooner after its
// request than the first's after its own, yet it went out second, and so it does again.
void TestHostLink::pacedReplayKeepsTheCapturedOrder()
{
    constexpr int FirstReplyDelayMs = 30;
    const Command first(1, 201, 0, 0, 0x11, false, HostAddress);
    const Command second(1, 201, 1, 0, 0x22, false, HostAddress);
    const QString port = QStringLiteral("ttyR0");
    const auto data = [&port](qint64 atUs, bool request, const QByteArray& frame) {
        return CaptureRecord{atUs, CaptureRecord::Event::Data,
                             request ? CaptureRecord::Direction::HostToModule : CaptureRecord::Direction::ModuleToHost,
                             port, frame};
    };
    const QByteArray firstReply = DuxlFrame::encodeCommandReply(1, 201, 100, 0);
    const QByteArray secondReply = DuxlFrame::encodeCommandReply(2, 201, 100, 0);
    CaptureReplay replay;
    QVERIFY(replay.load({{0, CaptureRecord::Event::Module, CaptureRecord::Direction::HostToModule, port, "key"},
                         data(0, true, DuxlFrame::encodeCommandRequest(1, first, true)),
                         data(10000, true, DuxlFrame::encodeCommandRequest(2, second, true)),
                         data(FirstReplyDelayMs * 1000, false, firstReply), data(31000, false, secondReply)}));
    ReplayServer server(replay);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    // Not the controlling terminal of the test (which a test runner in a session of its own would get,
    // and its hang-up when the server closes), and reading must not wait: the replay runs on this thread.
    const int line = ::open(QFile::encodeName(server.devicePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(line >= 0);
    const auto closeLine = qScopeGuard([line] { ::close(line); });
    const QByteArray requests = DuxlFrame::encodeCommandRequest(1, first, true) + DuxlFrame::encodeCommandRequest(2, second, true);
    QCOMPARE(::write(line, requests.constData(), size_t(requests.size())), ssize_t(requests.size()));
    QByteArray replies;
    QElapsedTimer clock;
    clock.start();
    while (replies.size() < firstReply.size() + secondReply.size() && clock.elapsed() < ReturnTimeoutMs) {
        QTest::qWait(1);
        char buffer[64];
        const ssize_t got = ::read(line, buffer, sizeof buffer);
        if (got > 0)
            replies.append(buffer, int(got));
    }
    QCOMPARE(replies.toHex(' '), (firstReply + secondReply).toHex(' '));
    // Never before its captured delay, the first reply's 30 ms.
    QVERIFY2(clock.elapsed() >= FirstReplyDelayMs, qPrintable(QString::number(clock.elapsed())));
}

// A pcap file of `linkType` with one packet of `packet`, written byte by byte as libpcap would.
QByteArray pcapFile(quint32 linkType, const QByteArray& packet)
{
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 magic = 0xA1B2C3D4;
    const quint16 major = 2;
    const quint16 minor = 4;
    const quint32 snapshot = 65535;
    out << magic << major << minor << qint32(0) << quint32(0) << snapshot << linkType;
    out << quint32(1) << quint32(0) << quint32(packet.size()) << quint32(packet.size());
    out.writeRawData(packet.constData(), packet.size());
    return file;
}

void TestHostLink::captureReaderTakesOnlyOurs_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error"); // empty: read
    const QByteArray opened = QByteArray::fromHex("0100037474790001c200");
    QTest::newRow("ours") << pcapFile(147, opened) << QString();
    QTest::newRow("another-link-type") << pcapFile(1, opened) << "is not a DUXL wire capture (link type 1)";
    QTest::newRow("no-pseudo-header") << pcapFile(147, QByteArray::fromHex("0100")) << "packet 1 of";
    QTest::newRow("unknown-event") << pcapFile(147, QByteArray::fromHex("050003747479")) << "packet 1 of";
    QTest::newRow("unknown-direction") << pcapFile(147, QByteArray::fromHex("000203747479d7")) << "packet 1 of";
    QTest::newRow("port-name-cut") << pcapFile(147, QByteArray::fromHex("0000057474")) << "packet 1 of";
    QTest::newRow("no-pcap-file") << QByteArray("not a capture") << "unknown file format";
}

// dux-sim --replay and the tests read captures of ours only, and say what else a file is.
void TestHostLink::captureReaderTakesOnlyOurs()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QTemporaryDir folder;
    QFile capture(folder.filePath(QStringLiteral("wire.pcap")));
    QVERIFY(capture.open(QIODevice::WriteOnly) && capture.write(file) == file.size());
    capture.close();
    CaptureReader reader;
    QCOMPARE(reader.read(capture.fileName()), error.isEmpty());
    QVERIFY2(reader.errorString().contains(error), qPrintable(reader.errorString()));
    if (error.isEmpty()) {
        QCOMPARE(reader.records().size(), 1);
        QCOMPARE(reader.records().first().event, CaptureRecord::Event::Open);
        QCOMPARE(reader.records().first().port, QStringLiteral("tty"));
        QCOMPARE(reader.records().first().dataRate(), 115200);
        QCOMPARE(reader.records().first().timestampUs, qint64(1000000));
    }
}

QTEST_MAIN(TestHostLink)
#include "tst_hostlink.moc"
