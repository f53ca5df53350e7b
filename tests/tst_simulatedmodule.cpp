#include "command.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

using Mode = SimulatedModule::Mode;
using Outcome = SimulatedModule::Outcome;

Command request(unsigned char command, unsigned short type = 0, unsigned char bank = 0, int value = 0,
                unsigned char address = 1)
{
    return Command(address, command, type, bank, value, false, 12);
}

}

class TestSimulatedModule : public QObject
{
    Q_OBJECT
private slots:
    void bootloaderEntryCode_data();
    void bootloaderEntryCode();
    void versionQueryFollowsMode();
    void otherAddressGetsNoReply();
    void identifierScan_data();
    void identifierScan();
    void restartTakesIdentifierFromNewFlash();
    void pageBufferWriteAndProgram();
    void pageProgramRejectsUnalignedOrOutside_data();
    void pageProgramRejectsUnalignedOrOutside();
    void pageNumberWriteCountsFromPage16();
    void programmingWithoutEraseOnlyClearsBits();
    void failureWindow_data();
    void failureWindow();
    void handlerLinkBehaviour();
    void handlerRefusesRatesItCannotDo();
};

void TestSimulatedModule::bootloaderEntryCode_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("bank");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("enters");
    QTest::newRow("the code") << 0x47 << 0x6E << 0x5D2C8B19 << true;
    QTest::newRow("wrong type") << 0x46 << 0x6E << 0x5D2C8B19 << false;
    QTest::newRow("wrong bank") << 0x47 << 0x6F << 0x5D2C8B19 << false;
    QTest::newRow("wrong value") << 0x47 << 0x6E << 0x5D2C8B18 << false;
}

void TestSimulatedModule::bootloaderEntryCode()
{
    QFETCH(int, type);
    QFETCH(int, bank);
    QFETCH(int, value);
    QFETCH(bool, enters);

    SimulatedModule module;
    QSignalSpy modeChanges(&module, &SimulatedModule::modeChanged);
    Command reply;
    QCOMPARE(module.handleRequest(request(242, quint16(type), quint8(bank), value), &reply), Outcome::Reply);
    QCOMPARE(module.mode(), enters ? Mode::Bootloader : Mode::Firmware);
    QCOMPARE(modeChanges.count(), enters ? 1 : 0);
    QCOMPARE(reply.status(), enters ? SimulatedModule::StatusOk : SimulatedModule::StatusInvalidValue);
}

void TestSimulatedModule::versionQueryFollowsMode()
{
    SimulatedModule module;
    module.setFirmwareVersion(QStringLiteral("1234V205"));
    module.setBootloaderVersion(QStringLiteral("1234B101"));
    QString version;
    QCOMPARE(module.queryVersion(1, &version), Outcome::Reply);
    QCOMPARE(version, QStringLiteral("1234V205"));
    // The firmware does not know the update commands.
    Command reply;
    module.handleRequest(request(206), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusInvalidCommand);
    module.setMode(Mode::Bootloader);
    module.queryVersion(1, &version);
    QCOMPARE(version, QStringLiteral("1234B101"));
    QCOMPARE(module.versionQueryCount(), 2);
}

void TestSimulatedModule::otherAddressGetsNoReply()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setAddress(3);
    Command reply;
    QCOMPARE(module.handleRequest(request(206, 0, 0, 0, 1), &reply), Outcome::NoReply);
    QCOMPARE(module.handleRequest(request(206, 0, 0, 0, 3), &reply), Outcome::Reply);
    QString version = QStringLiteral("stale");
    QCOMPARE(module.queryVersion(1, &version), Outcome::NoReply);
    QVERIFY(version.isEmpty());
    // Both requests reached the bus, and a fault counts both.
    QCOMPARE(module.requestCount(206), 2);
    module.setFailure(SimulatedModule::FailureMode::NoReply, 206, 2, 1);
    QCOMPARE(module.handleRequest(request(206, 0, 0, 0, 1), &reply), Outcome::NoReply);
    QCOMPARE(module.handleRequest(request(206, 0, 0, 0, 3), &reply), Outcome::NoReply);
    QCOMPARE(module.handleRequest(request(206, 0, 0, 0, 3), &reply), Outcome::Reply);
}

void TestSimulatedModule::identifierScan_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("identifier");
    QTest::newRow("none") << QByteArray("no identifier in here") << QString();
    QTest::newRow("at offset 0 is not seen") << QByteArray("1234V567") << QString();
    QTest::newRow("at offset 1") << QByteArray("x1234V567") << "1234V567";
    QTest::newRow("case counts") << QByteArray("x1234v567") << QString();
    QTest::newRow("pattern order beats position") << QByteArray("x1234C567 1234V567") << "1234V567";
    QTest::newRow("lowest position within a pattern") << QByteArray("x1111V111 2222V222") << "1111V111";
    QTest::newRow("third pattern") << QByteArray("x123V4.56") << "123V4.56";
    QTest::newRow("C in front") << QByteArray("xC123C456") << "C123C456";
    QTest::newRow("cut off at the end") << QByteArray("x1234V56") << QString();
}

void TestSimulatedModule::identifierScan()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, identifier);
    QCOMPARE(SimulatedModule::findIdentifier(data), identifier);
}

void TestSimulatedModule::restartTakesIdentifierFromNewFlash()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.loadFlash(0x100, QByteArray("1234V999"));
    Command reply;
    module.handleRequest(request(205), &reply);
    QCOMPARE(module.mode(), Mode::Firmware);
    QCOMPARE(module.firmwareVersion(), QStringLiteral("1234V999"));
}

void TestSimulatedModule::pageBufferWriteAndProgram()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setFlashBase(0x8000000);
    module.setPageSize(2048);
    Command reply;
    // Offset 0x404 of the page: bank 1, word 1.
    module.handleRequest(request(201, 1, 1, 0x11223344), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusOk);
    QCOMPARE(module.flashWord(0x8000404), 0xFFFFFFFFu);
    module.handleRequest(request(202, 0, 0, 0x8000800), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusOk);
    QCOMPARE(module.flashWord(0x8000C04), 0x11223344u);
    module.handleRequest(request(203, 0, 0, 0x8000C04), &reply);
    QCOMPARE(quint32(reply.value()), 0xFFu * 0xC04 + 0x44);
    QCOMPARE(int(reply.command()), 203);
}

void TestSimulatedModule::pageProgramRejectsUnalignedOrOutside_data()
{
    QTest::addColumn<quint32>("address");
    QTest::newRow("not on a page boundary") << quint32(0x1100);
    QTest::newRow("below the flash") << quint32(0x0C00);
    QTest::newRow("past the flash") << quint32(0x1000 + 0x4000);
}

void TestSimulatedModule::pageProgramRejectsUnalignedOrOutside()
{
    QFETCH(quint32, address);
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setFlashBase(0x1000);
    module.setFlashSize(0x4000);
    module.setPageSize(1024);
    Command reply;
    module.handleRequest(request(202, 0, 0, int(address)), &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.status(), SimulatedModule::StatusInvalidValue);
}

void TestSimulatedModule::pageNumberWriteCountsFromPage16()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setWriteScheme(SimulatedModule::WriteScheme::PageNumber);
    module.setFlashBase(0x4000);
    module.setPageSize(1024);
    Command reply;
    module.handleRequest(request(201, 255, 17, 0x01020304), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusOk);
    QCOMPARE(module.flashWord(0x4000 + 1024 + 1020), 0x01020304u);
    module.handleRequest(request(201, 0, 15, 0), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusInvalidValue);
    // No page buffer in this scheme.
    module.handleRequest(request(202, 0, 0, 0x4000), &reply);
    QCOMPARE(reply.status(), SimulatedModule::StatusInvalidCommand);
}

void TestSimulatedModule::programmingWithoutEraseOnlyClearsBits()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setWriteScheme(SimulatedModule::WriteScheme::PageNumber);
    Command reply;
    module.handleRequest(request(201, 0, 16, 0x0F0F0F0F), &reply);
    module.handleRequest(request(201, 0, 16, int(0xF0F0F0FF)), &reply);
    QCOMPARE(module.flashWord(0), 0x0000000Fu);
    module.handleRequest(request(200), &reply);
    QCOMPARE(module.flashWord(0), 0xFFFFFFFFu);
}

void TestSimulatedModule::failureWindow_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("outcomes");
    QTest::newRow("from the start, forever") << 1 << SimulatedModule::Forever << "xxxxx";
    QTest::newRow("third and fourth") << 3 << 2 << "..xx.";
    QTest::newRow("second only") << 2 << 1 << ".x...";
}

void TestSimulatedModule::failureWindow()
{
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QString, outcomes);

    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    module.setFailure(SimulatedModule::FailureMode::InvalidReply, 206, first, count);
    QString seen;
    Command reply;
    for (int i = 0; i < outcomes.size(); ++i) {
        // Requests of other commands do not count.
        module.handleRequest(request(205), &reply);
        module.setMode(Mode::Bootloader);
        seen += module.handleRequest(request(206), &reply) == Outcome::Reply ? QLatin1Char('.') : QLatin1Char('x');
    }
    QCOMPARE(seen, outcomes);
}

void TestSimulatedModule::handlerLinkBehaviour()
{
    SimulatedModule module;
    module.setMode(Mode::Bootloader);
    SimulatedCommandHandler handler(&module);
    handler.setUsbNumber(4);
    QCOMPARE(handler.objectName(), QStringLiteral("USB construct No: 4"));
    handler.setPortName(QStringLiteral("COM5"));
    QCOMPARE(handler.property("dpComPort").toString(), QStringLiteral("COM5"));

    Command page = request(206);
    Command reply;
    handler.doDirectRequest(&page, &reply);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.value(), 1024);
    // A closed link carries nothing, and a reused reply does not stay valid.
    handler.closeDevice();
    handler.doDirectRequest(&page, &reply);
    QVERIFY(!reply.isValid());
    QVERIFY(handler.getFirmwareVersion(1).isEmpty());
    QCOMPARE(module.requestCount(206), 1);
    handler.setOpenSucceeds(false);
    QVERIFY(!handler.openDevice());
    handler.setOpenSucceeds(true);
    QVERIFY(handler.openDevice());
    QCOMPARE(handler.openCount(), 2);
    QCOMPARE(handler.closeCount(), 1);

    module.setFailure(SimulatedModule::FailureMode::InvalidReply, 206);
    handler.doDirectRequest(&page, &reply);
    QVERIFY(!reply.isValid());
}

void TestSimulatedModule::handlerRefusesRatesItCannotDo()
{
    SimulatedModule module;
    SimulatedCommandHandler handler(&module);
    QVERIFY(handler.setDataRate(111111));
    handler.setAcceptedDataRates({9600, 115200});
    QVERIFY(handler.setDataRate(115200));
    QVERIFY(!handler.setDataRate(111111));
    QCOMPARE(handler.dataRate(), 115200);
    QCOMPARE(handler.requestedDataRates(), (QList<int>{111111, 115200, 111111}));
}

QTEST_MAIN(TestSimulatedModule)
#include "tst_simulatedmodule.moc"
