#include "command.h"
#include "ptymodule.h"
#include "serialcommandhandler.h"
#include "serialportdescription.h"
#include "simulatedmodule.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

constexpr unsigned char HostAddress = 12;
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

class TestSerialHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readsVersionOfEachMode_data();
    void readsVersionOfEachMode();
    void runsRequestsAndKeepsReplyFields();
    void foreignEchoStaysAValidReply();
    void timeOutFollowsMaxTimeout_data();
    void timeOutFollowsMaxTimeout();
    void corruptReplyFailsWithoutWaitingForTheTimeout();
    void lateReplyIsNeverTakenForTheNextRequest();
    void requestWithoutReplyIsCarriedOutSilently();
    void forcedEventProcessingKeepsTheLoopRunning_data();
    void forcedEventProcessingKeepsTheLoopRunning();
    void closedDeviceAnswersAtOnce();
    void dataRates_data();
    void dataRates();
    void namesHandlersLikeTheHostDoes();
    void openFailureIsLoggedWithPortAndReason_data();
    void openFailureIsLoggedWithPortAndReason();
    void vanishingPortIsLoggedAndClosesTheDevice();
    void pacedLinkTakesTheTimeOfItsBytes();

private:
    Command pageSizeReply();
    qint64 msUntilPageSizeRequestFails();

    std::unique_ptr<PtyModule> m_module;
    std::unique_ptr<SerialCommandHandler> m_handler;
};

void TestSerialHandler::init()
{
    m_module = std::make_unique<PtyModule>();
    QVERIFY(m_module->isServing());
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->setPageSize(PageSize); });
    m_handler = std::make_unique<SerialCommandHandler>(m_module->port(), false);
    QVERIFY(m_handler->openDevice());
}

void TestSerialHandler::cleanup()
{
    m_handler.reset();
    m_module.reset();
}

// What the handler gives back for one page-size request.
Command TestSerialHandler::pageSizeReply()
{
    Command request = parameterRequest(0);
    Command reply;
    m_handler->doDirectRequest(&request, &reply);
    return reply;
}

// How many milliseconds the handler took to give up on one page-size request; -1 if a valid reply came.
qint64 TestSerialHandler::msUntilPageSizeRequestFails()
{
    QElapsedTimer clock;
    clock.start();
    return pageSizeReply().isValid() ? -1 : clock.elapsed();
}

void TestSerialHandler::readsVersionOfEachMode_data()
{
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("failure"); // -1: none, else a SimulatedModule::FailureMode on the version query
    QTest::addColumn<QString>("expected");
    // Bytes the module streams unasked before the query, of this pattern (empty: random bytes), while
    // the host is idle or keeps asking for the version meanwhile.
    QTest::addColumn<qint64>("noiseBytes");
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("askDuringNoise");

    const QByteArray startBytes(1, char(DuxlFrame::StartOfFrame));
    QTest::newRow("firmware") << false << 1 << -1 << "1234V101" << 0LL << QByteArray() << false;
    QTest::newRow("bootloader") << true << 1 << -1 << "1234B101" << 0LL << QByteArray() << false;
    QTest::newRow("nobody at that address") << false << 2 << -1 << "" << 0LL << QByteArray() << false;
    QTest::newRow("no reply") << false << 1 << int(SimulatedModule::FailureMode::NoReply) << "" << 0LL << QByteArray()
                              << false;
    QTest::newRow("spoilt reply") << false << 1 << int(SimulatedModule::FailureMode::InvalidReply) << "" << 0LL
                                  << QByteArray() << false;
    QTest::newRow("after start bytes streamed to an idle host") << false << 1 << -1 << "1234V101" << NoiseBytes
                                                                << startBytes << false;
    QTest::newRow("after random bytes streamed to an idle host") << false << 1 << -1 << "1234V101" << NoiseBytes
                                                                 << QByteArray() << false;
    QTest::newRow("through start bytes streamed while asked") << false << 1 << -1 << "1234V101" << NoiseBytes
                                                             << startBytes << true;
    QTest::newRow("through random bytes streamed while asked") << false << 1 << -1 << "1234V101" << NoiseBytes
                                                              << QByteArray() << true;
}

void TestSerialHandler::readsVersionOfEachMode()
{
    QFETCH(bool, bootloader);
    QFETCH(int, address);
    QFETCH(int, failure);
    QFETCH(QString, expected);
    QFETCH(qint64, noiseBytes);
    QFETCH(QByteArray, noise);
    QFETCH(bool, askDuringNoise);

    const qint64 rssBeforeKb = statusKb("VmRSS");
    QVERIFY(resetPeakRss());
    m_module->run([&](SimulatedModule* module, ModuleServer* server) {
        module->setMode(bootloader ? SimulatedModule::Mode::Bootloader : SimulatedModule::Mode::Firmware);
        if (failure >= 0)
            module->setFailure(SimulatedModule::FailureMode(failure), SimulatedModule::VersionQuery);
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
    m_module->run([](SimulatedModule* module, ModuleServer*) { module->clearFailures(); });
    QVERIFY(!m_handler->getFirmwareVersion(1).isEmpty());
}

void TestSerialHandler::runsRequestsAndKeepsReplyFields()
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
}

void TestSerialHandler::foreignEchoStaysAValidReply()
{
    m_module->run([](SimulatedModule* module, ModuleServer*) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        module->setFailure(SimulatedModule::FailureMode::WrongEchoOn203);
    });
    Command request(1, ChecksumCommand, 0, 0, 15, false, HostAddress);
    Command reply;
    m_handler->doDirectRequest(&request, &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.command(), quint8(204));
}

void TestSerialHandler::timeOutFollowsMaxTimeout_data()
{
    QTest::addColumn<int>("timeoutMs"); // 0: reset to the default
    QTest::addColumn<int>("expectedMs");
    QTest::newRow("raised for one request") << 300 << 300;
    QTest::newRow("back to the default") << 0 << int(CommandHandlerInterface::DefaultTimeoutMs);
}

void TestSerialHandler::timeOutFollowsMaxTimeout()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, expectedMs);

    m_module->run([](SimulatedModule* module, ModuleServer*) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        module->setFailure(SimulatedModule::FailureMode::NoReply, ParameterCommand);
    });
    m_handler->setMaxTimeoutMS(77);
    if (timeoutMs > 0)
        m_handler->setMaxTimeoutMS(timeoutMs);
    else
        m_handler->resetMaxTimeoutMS();

    const qint64 elapsed = msUntilPageSizeRequestFails();
    QVERIFY2(elapsed >= expectedMs && elapsed < expectedMs + SchedulingSlackMs, qPrintable(QString::number(elapsed)));
}

void TestSerialHandler::corruptReplyFailsWithoutWaitingForTheTimeout()
{
    m_module->run([](SimulatedModule* module, ModuleServer*) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        module->setFailure(SimulatedModule::FailureMode::InvalidReply, ParameterCommand, 1, 1);
    });
    m_handler->setMaxTimeoutMS(5000);
    const qint64 elapsed = msUntilPageSizeRequestFails();
    QVERIFY2(elapsed >= 0 && elapsed < SchedulingSlackMs, qPrintable(QString::number(elapsed)));

    // The fault hit one request only: the retry gets the real answer.
    const Command reply = pageSizeReply();
    QVERIFY(reply.isValid());
    QCOMPARE(reply.value(), PageSize);
}

void TestSerialHandler::lateReplyIsNeverTakenForTheNextRequest()
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

void TestSerialHandler::requestWithoutReplyIsCarriedOutSilently()
{
    Command entry(1, SimulatedModule::EnterBootloaderCommand, SimulatedModule::EnterBootloaderType,
                  SimulatedModule::EnterBootloaderBank, SimulatedModule::EnterBootloaderValue, false, HostAddress);
    QElapsedTimer clock;
    clock.start();
    m_handler->doDirectRequestWithoutReply(&entry);
    QVERIFY(clock.elapsed() < SchedulingSlackMs);

    QTRY_COMPARE(m_handler->getFirmwareVersion(1), QStringLiteral("1234B101"));
    int entries = 0;
    m_module->run([&](SimulatedModule* module, ModuleServer*) {
        entries = module->requestCount(SimulatedModule::EnterBootloaderCommand);
    });
    QCOMPARE(entries, 1);

    const Command reply = pageSizeReply();
    QVERIFY(reply.isValid());
    QCOMPARE(reply.command(), ParameterCommand);
}

void TestSerialHandler::forcedEventProcessingKeepsTheLoopRunning_data()
{
    QTest::addColumn<bool>("force");
    QTest::newRow("events processed") << true;
    QTest::newRow("plain wait") << false;
}

void TestSerialHandler::forcedEventProcessingKeepsTheLoopRunning()
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
        QCOMPARE(m_handler->errorString(), QStringLiteral("another request is waiting"));
    } else {
        QCOMPARE(ticks, 0);
    }
}

void TestSerialHandler::closedDeviceAnswersAtOnce()
{
    m_handler->closeDevice();
    QVERIFY(!m_handler->isDeviceOpen());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(msUntilPageSizeRequestFails() >= 0);
    QVERIFY(m_handler->getFirmwareVersion(1).isEmpty());
    QVERIFY(clock.elapsed() < SchedulingSlackMs);
    QCOMPARE(m_handler->errorString(), QStringLiteral("the port is not open"));

    QVERIFY(m_handler->openDevice());
    QVERIFY(m_handler->isDeviceOpen());
    QCOMPARE(m_handler->getFirmwareVersion(1), QStringLiteral("1234V101"));
}

void TestSerialHandler::dataRates_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("9600") << 9600 << true;
    QTest::newRow("115200") << 115200 << true;
    QTest::newRow("zero") << 0 << false;
    QTest::newRow("negative") << -9600 << false;
}

void TestSerialHandler::dataRates()
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

void TestSerialHandler::namesHandlersLikeTheHostDoes()
{
    const QSerialPortInfo port = describeSerialPort(QStringLiteral("ttyACM7"));
    const SerialCommandHandler first(port, true);
    const SerialCommandHandler second(port, true);
    QVERIFY(first.objectName().startsWith(QLatin1String("USB construct No: ")));
    QVERIFY(second.objectName().startsWith(QLatin1String("USB construct No: ")));
    QVERIFY(first.objectName() != second.objectName());
    QCOMPARE(first.property("dpComPort").toString(), QStringLiteral("ttyACM7"));

    QVERIFY(!m_handler->objectName().startsWith(QLatin1String("USB construct No: ")));
    QCOMPARE(m_handler->property("dpComPort").toString(), m_module->port().portName());
}

void TestSerialHandler::openFailureIsLoggedWithPortAndReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sameDevice"); // the open port's device under another name (a symbolic link)
    QTest::addColumn<QString>("warning"); // before the reason
    QTest::addColumn<QString>("reason");  // %1: the path opened
    QTest::newRow("no such device") << "ttyNOPE9" << false << "ttyNOPE9 .*" << "No such file or directory";
    QTest::newRow("device already open under another name")
        << "ttyTWIN" << true << "" << "port ttyTWIN is in use: another program holds the lock on its device %1";
}

void TestSerialHandler::openFailureIsLoggedWithPortAndReason()
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
    SerialCommandHandler handler(describeSerialPort(name, path), false);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QLatin1Char('^') + warning + QRegularExpression::escape(reason)));
    QVERIFY(!handler.openDevice());
    QVERIFY(!handler.isDeviceOpen());
    QVERIFY2(handler.errorString().endsWith(reason), qPrintable(handler.errorString()));

    // The lock goes with the first opener's port.
    m_handler->closeDevice();
    QCOMPARE(handler.openDevice(), sameDevice);
}

void TestSerialHandler::vanishingPortIsLoggedAndClosesTheDevice()
{
    auto usbModule = std::make_unique<PtyModule>(ModuleServer::LinkKind::UsbLike, QStringLiteral("ttyGONE"));
    SerialCommandHandler handler(usbModule->port(), true);
    QVERIFY(handler.openDevice());
    QCOMPARE(handler.getFirmwareVersion(1), QStringLiteral("1234V101"));

    // The bootloader-entry command restarts the USB module: its port goes away under the handler.
    Command entry(1, SimulatedModule::EnterBootloaderCommand, SimulatedModule::EnterBootloaderType,
                  SimulatedModule::EnterBootloaderBank, SimulatedModule::EnterBootloaderValue, false, HostAddress);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ttyGONE0 .*serial port error: .+")));
    handler.doDirectRequestWithoutReply(&entry);
    QTRY_VERIFY(!handler.isDeviceOpen());
    QVERIFY(handler.getFirmwareVersion(1).isEmpty());
}

void TestSerialHandler::pacedLinkTakesTheTimeOfItsBytes()
{
    constexpr int Rate = 115200;
    constexpr int Requests = 100;
    constexpr int RequestBytes = 13;
    constexpr int ReplyBytes = 10;
    m_module->run([](SimulatedModule* module, ModuleServer* server) {
        module->setMode(SimulatedModule::Mode::Bootloader);
        server->setPacingRate(Rate);
    });
    Command request = parameterRequest(0);
    Command reply;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Requests; ++i) {
        m_handler->doDirectRequest(&request, &reply);
        QVERIFY(reply.isValid());
    }
    const double idealMs = Requests * (RequestBytes + ReplyBytes) * 10 * 1000.0 / Rate;
    // One millisecond for the clock's whole milliseconds and the pacer's whole nanoseconds per byte.
    const qint64 elapsed = clock.elapsed() + 1;
    QVERIFY2(elapsed >= idealMs, qPrintable(QStringLiteral("%1 ms, ideal %2 ms").arg(elapsed).arg(idealMs)));
    QVERIFY2(elapsed < 3 * idealMs, qPrintable(QStringLiteral("%1 ms, ideal %2 ms").arg(elapsed).arg(idealMs)));
}

QTEST_GUILESS_MAIN(TestSerialHandler)
#include "tst_serialhandler.moc"
