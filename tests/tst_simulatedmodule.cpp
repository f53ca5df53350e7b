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
    void pageBufferWriteAndProgram();
    void pageProgramRejectsUnalignedOrOutside_data();
    void pageProgramRejectsUnalignedOrOutside();
    void pageNumberWriteCountsFromPage16();
    void programmingWithoutEraseOnlyClearsBits();
    void handlerLinkBehaviour();
    void handlerRefusesRatesItCannotDo();
};

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
