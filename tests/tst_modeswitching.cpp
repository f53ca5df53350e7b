#include "appsettings.h"
#include "command.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "messagelog.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "toolharness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

namespace {
constexpr int Usb = DUXLConnectionInterface::Usb;
constexpr int Serial = DUXLConnectionInterface::Serial;
constexpr unsigned char ParameterCommand = 206;
constexpr unsigned char EraseCommand = 200;
// How long a test waits to be sure that a scaled single-shot timer did not fire.
constexpr int QuietMs = 200;

FakeHost::ModuleSetup setupFor(const QString& port, int linkKind, unsigned char address,
                               const QString& moduleName = QStringLiteral("M"))
{
    FakeHost::ModuleSetup setup;
    setup.port = port;
    setup.linkKind = linkKind;
    setup.address = address;
    setup.moduleName = moduleName;
    return setup;
}

// The rates asked of a handler from position `from` on.
QList<int> ratesSince(SimulatedCommandHandler* handler, int from)
{
    return handler->requestedDataRates().mid(from);
}
}

class TestModeSwitching : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void forwardsRequestToHandlerOfUpdate_data();
    void forwardsRequestToHandlerOfUpdate();
    void forwardsRequestWithoutAnswer();
    void versionQueryEnablesCancel();
    void closeDevice_data();
    void closeDevice();
    void reopenByLinkKindAndState_data();
    void reopenByLinkKindAndState();
    void reopenWithoutLink();
    void followsPortOfModuleUnderUpdate();
    void keyAlreadyOnNewPortIsKept();
    void portChangesThatAreNotFollowed_data();
    void portChangesThatAreNotFollowed();
    void portChangeStartsUnattendedUpdate_data();
    void portChangeStartsUnattendedUpdate();

private:
    // Starts an update of a USB module so far that the tool holds its handler and waits for the port change.
    QString startUsbUpdate(ToolHarness& harness, const QString& port, unsigned char address);
    // Names a firmware file of the modules' type in the form: without one Update refuses to start.
    void chooseFirmware(ToolHarness& harness);

    QTemporaryDir m_dir;
};

void TestModeSwitching::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("DUX_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    qputenv("DUX_TIME_SCALE", "0.02");
}

void TestModeSwitching::init()
{
    AppSettings settings;
    settings.clear();
    settings.sync();
}

QString TestModeSwitching::startUsbUpdate(ToolHarness& harness, const QString& port, unsigned char address)
{
    harness.host().setReenumerationDelays(-1, 0);
    const QString key = harness.host().addModule(setupFor(port, Usb, address));
    harness.start();
    chooseFirmware(harness);
    harness.invoke("on_btnUpdate_clicked");
    if (harness.lineEdit("leProgress")->text() != QLatin1String("Disconnecting..."))
        return QString();
    return key;
}

void TestModeSwitching::chooseFirmware(ToolHarness& harness)
{
    harness.lineEdit("leFilename")->setText(FirmwareBuilder::writeFile(
        m_dir.filePath(QStringLiteral("files/fw.hex")), FirmwareBuilder::firmwareHex("1234V102")));
}

void TestModeSwitching::forwardsRequestToHandlerOfUpdate_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("invertedDuringCall");

    QTest::newRow("erase") << int(EraseCommand) << true;
    QTest::newRow("page size") << int(ParameterCommand) << false;
}

void TestModeSwitching::forwardsRequestToHandlerOfUpdate()
{
    QFETCH(int, command);
    QFETCH(bool, invertedDuringCall);

    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("ttyACM0"), 1);
    QVERIFY(!key.isEmpty());
    QCOMPARE(harness.host().device(key)->mode(), SimulatedModule::Mode::Bootloader);

    QList<bool> inverted;
    QObject::connect(harness.host().handler(key), &SimulatedCommandHandler::requestArrived,
                     [&] { inverted.append(harness.progressBar()->invertedAppearance()); });
    Command request(1, quint8(command), 0, 0, 0, false, 12);
    Command reply;
    QVERIFY(harness.invoke("forwardDoDirectRequest", Q_ARG(Command*, &request), Q_ARG(Command*, &reply)));

    QCOMPARE(inverted, QList<bool>{invertedDuringCall});
    QVERIFY(!harness.progressBar()->invertedAppearance());
    QVERIFY(reply.isValid());
    QCOMPARE(int(reply.command()), command);
    if (command == ParameterCommand)
        QCOMPARE(reply.value(), harness.host().device(key)->pageSize());
}

void TestModeSwitching::forwardsRequestWithoutAnswer()
{
    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("ttyACM0"), 1);
    QVERIFY(!key.isEmpty());

    QList<int> arrivedTypes;
    QObject::connect(harness.host().handler(key), &SimulatedCommandHandler::requestArrived,
                     [&](const Command& arrived) { arrivedTypes.append(arrived.type()); });
    Command request(1, ParameterCommand, 1, 0, 0, false, 12);
    QVERIFY(harness.invoke("forwardDoDirectRequestWithoutAnswer", Q_ARG(Command*, &request)));
    QCOMPARE(arrivedTypes, QList<int>{1});
}

void TestModeSwitching::versionQueryEnablesCancel()
{
    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("ttyACM0"), 1);
    QVERIFY(!key.isEmpty());
    QVERIFY(!harness.button("btnCancel")->isEnabled());

    QString version;
    // Only the low 8 bits of the address count: 257 is address 1.
    QVERIFY(harness.invoke("handleGetFirmwareVersion", Q_ARG(QString*, &version), Q_ARG(int, 257)));
    QCOMPARE(version, QStringLiteral("1234B101"));
    QVERIFY(harness.button("btnCancel")->isEnabled());
}

void TestModeSwitching::closeDevice_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<int>("closes");

    QTest::newRow("USB link is closed") << Usb << 1;
    QTest::newRow("serial link stays open") << Serial << 0;
    QTest::newRow("other link stays open") << 3 << 0;
}

void TestModeSwitching::closeDevice()
{
    QFETCH(int, linkKind);
    QFETCH(int, closes);

    ToolHarness harness;
    const QString key = harness.host().addModule(setupFor(QStringLiteral("COM3"), linkKind, 1));
    harness.start();
    MessageLog log;
    QVERIFY(harness.invoke("handleCloseDevice"));

    QCOMPARE(harness.host().handler(key)->closeCount(), closes);
    QCOMPARE(harness.host().handler(key)->isDeviceOpen(), closes == 0);
    QCOMPARE(log.messages().size(), 1);
    QVERIFY(log.messages().first().startsWith(QStringLiteral("FirmwareUpdate::handleCloseDevice() FakeConnectionPlugin(")));
}

void TestModeSwitching::reopenByLinkKindAndState_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QList<int>>("acceptedRates");
    QTest::addColumn<int>("rememberedRate");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QString>("historyLine");
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<int>("opens");
    QTest::addColumn<QList<int>>("moduleStates");

    const QList<int> any;
    const QList<int> slowPort{9600, 57600, 115200};
    const QString none;
    QTest::newRow("serial 2804 to bootloader") << Serial << "2804" << any << 0 << 0 << QList<int>{111111}
                                               << "to bootloader mode" << none << 0 << QList<int>();
    QTest::newRow("serial 3907 refused") << Serial << "3907" << slowPort << 0 << 0 << QList<int>{111111}
                                         << "Could not set baudrate (111111) needed by this module. Use a serial "
                                            "port that supports this."
                                         << none << 0 << QList<int>();
    QTest::newRow("serial other kind to bootloader")
        << Serial << "1234" << QList<int>{9600} << 0 << 0 << QList<int>{115200} << "to bootloader mode" << none << 0
        << QList<int>();
    QTest::newRow("serial to firmware, nothing remembered")
        << Serial << "1234" << any << 0 << 1 << QList<int>{9600} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() lastDataRate: 9600 lastId: 1" << 0 << QList<int>();
    QTest::newRow("serial to firmware, remembered")
        << Serial << "1234" << any << 57600 << 1 << QList<int>{57600} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() lastDataRate: 57600 lastId: 4" << 0 << QList<int>();
    QTest::newRow("serial to ready") << Serial << "1234" << any << 0 << 2 << QList<int>() << "to ready mode" << none
                                     << 0 << QList<int>();
    QTest::newRow("serial to other mode") << Serial << "2804" << any << 0 << 7 << QList<int>() << "to other mode 7"
                                          << "FirmwareUpdate::handleReOpenDevice() \"to other mode\\n\"" << 0
                                          << QList<int>();
    QTest::newRow("kind 3 to bootloader, nothing remembered")
        << 3 << "1234" << any << 0 << 0 << QList<int>{1000} << "to bootloader mode"
        << "FirmwareUpdate::handleReOpenDevice() 0 lastDataRate: 1000 lastId: 1" << 0 << QList<int>();
    QTest::newRow("kind 8 to firmware, remembered")
        << 8 << "1234" << any << 250000 << 1 << QList<int>{250000} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() 1 lastDataRate: 250000 lastId: 4" << 0 << QList<int>();
    QTest::newRow("kind 4 to ready") << 4 << "1234" << any << 0 << 2 << QList<int>() << "to ready mode" << none << 0
                                     << QList<int>();
    QTest::newRow("USB to ready") << Usb << "1234" << any << 0 << 2 << QList<int>() << "COM3/M/id4 Waiting..." << none
                                  << 0 << QList<int>{2};
    QTest::newRow("USB to bootloader") << Usb << "1234" << any << 0 << 0 << QList<int>() << "to bootloader mode"
                                       << none << 1 << QList<int>();
    QTest::newRow("USB to other mode") << Usb << "1234" << any << 0 << 7 << QList<int>() << "to other mode 7" << none
                                       << 1 << QList<int>();
    QTest::newRow("unknown link kind") << 7 << "1234" << any << 57600 << 1 << QList<int>() << "to firmware mode"
                                       << none << 0 << QList<int>();
}

void TestModeSwitching::reopenByLinkKindAndState()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(QList<int>, acceptedRates);
    QFETCH(int, rememberedRate);
    QFETCH(int, state);
    QFETCH(QList<int>, rates);
    QFETCH(QString, historyLine);
    QFETCH(QString, debugLine);
    QFETCH(int, opens);
    QFETCH(QList<int>, moduleStates);

    ToolHarness harness;
    FakeHost::ModuleSetup setup = setupFor(QStringLiteral("COM3"), linkKind, 4);
    setup.nameInFirmware = kind;
    const QString key = harness.host().addModule(setup);
    SimulatedCommandHandler* handler = harness.host().handler(key);
    if (rememberedRate) {
        // Choosing a module that runs its firmware remembers the rate of its link and its address.
        handler->setDataRate(rememberedRate);
    } else {
        harness.host().device(key)->setFirmwareVersion(QString());
    }
    harness.start();
    handler->setAcceptedDataRates(acceptedRates);
    const int ratesBefore = handler->requestedDataRates().size();
    const int opensBefore = handler->openCount();

    MessageLog log;
    QVERIFY(harness.invoke("handleReOpenDevice", Q_ARG(int, state)));

    QCOMPARE(ratesSince(handler, ratesBefore), rates);
    QCOMPARE(handler->openCount() - opensBefore, opens);
    QCOMPARE(harness.host().module(key)->moduleStates(), moduleStates);
    QVERIFY2(harness.historyText().contains(historyLine), qPrintable(harness.historyText()));
    if (!debugLine.isEmpty())
        QVERIFY2(log.messages().contains(debugLine), qPrintable(log.messages().join(QLatin1Char('\n'))));
}

void TestModeSwitching::reopenWithoutLink()
{
    ToolHarness harness;
    FakeHost::ModuleSetup setup = setupFor(QStringLiteral("COM3"), Serial, 1);
    setup.withHandler = false;
    harness.host().addModule(setup);
    harness.start();

    MessageLog log;
    QVERIFY(harness.invoke("handleReOpenDevice", Q_ARG(int, 1)));
    QCOMPARE(log.messages(), (QStringList{QStringLiteral("FirmwareUpdate::handleReOpenDevice() \"to firmware mode\\n\""),
                                          QStringLiteral("FirmwareUpdate::handleReOpenDevice() reopen")}));
    QVERIFY(harness.historyText().contains(QStringLiteral("to firmware mode")));
}

void TestModeSwitching::followsPortOfModuleUnderUpdate()
{
    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("COM4"), 3);
    QCOMPARE(key, QStringLiteral("COM4/M/id3"));

    MessageLog log;
    QSignalSpy progress(harness.lineEdit("leProgress"), SIGNAL(textChanged(QString)));
    const QString newKey = harness.host().reenumerate(key, QStringLiteral("COM9"));
    QCOMPARE(newKey, QStringLiteral("COM9/M/id1"));
    QVERIFY(log.messages().contains(QStringLiteral("FirmwareUpdate::handleUSBDevices() () (\"COM4\") (\"COM4\")")));
    QVERIFY(log.messages().contains(QStringLiteral("FirmwareUpdate::handleUSBDevices() (\"COM9\") () ()")));
    QVERIFY(harness.historyText().contains(QStringLiteral("COM-Port has changed from COM4 to COM9")));
    // gold
    QVERIFY(harness.history()->toHtml().contains(QStringLiteral("color:#ffd700;")));

    // The tool now speaks of the new key: the module registered under it is the one it goes on with.
    QTRY_VERIFY(harness.historyText().contains(QStringLiteral("Reconnected.")));
    QVERIFY(progress.contains(QVariantList{QStringLiteral("Reconnected.")}));
    QVERIFY(harness.historyText().contains(QStringLiteral("Active firmware: (1234B101)")));
}

void TestModeSwitching::keyAlreadyOnNewPortIsKept()
{
    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("COM4"), 3);
    QVERIFY(!key.isEmpty());

    // The port goes and comes back under the same name; the host keeps the module.
    harness.host().removePort(QStringLiteral("COM4"));
    harness.host().reportPorts();
    harness.host().addPort(QStringLiteral("COM4"));
    harness.host().reportPorts();
    QVERIFY(!harness.historyText().contains(QStringLiteral("COM-Port has changed")));
    QTRY_VERIFY(harness.historyText().contains(QStringLiteral("Reconnected.")));
    QVERIFY(harness.invoke("handleReOpenDevice", Q_ARG(int, 2)));
    QVERIFY(harness.historyText().contains(QStringLiteral("COM4/M/id3 Waiting...")));
}

void TestModeSwitching::portChangesThatAreNotFollowed_data()
{
    QTest::addColumn<bool>("updating");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("added");

    QTest::newRow("update under way, ports only removed") << true << QStringList{"COM4", "COM5"} << QStringList();
    QTest::newRow("idle, port added") << false << QStringList() << QStringList{"COM9"};
}

void TestModeSwitching::portChangesThatAreNotFollowed()
{
    QFETCH(bool, updating);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, added);

    ToolHarness harness;
    harness.host().addPort(QStringLiteral("COM5"));
    QString key;
    if (updating) {
        key = startUsbUpdate(harness, QStringLiteral("COM4"), 3);
    } else {
        key = harness.host().addModule(setupFor(QStringLiteral("COM4"), Usb, 3));
        harness.start();
    }
    QVERIFY(!key.isEmpty());
    const QString before = harness.historyText();
    const int queries = harness.host().device(key)->versionQueryCount();

    for (const QString& port : removed)
        harness.host().removePort(port);
    for (const QString& port : added)
        harness.host().addPort(port);
    harness.host().reportPorts();
    QTest::qWait(QuietMs);

    QCOMPARE(harness.historyText(), before);
    QCOMPARE(harness.host().device(key)->versionQueryCount(), queries);
}

void TestModeSwitching::portChangeStartsUnattendedUpdate_data()
{
    QTest::addColumn<bool>("leaveSelection");
    QTest::addColumn<int>("modules");
    QTest::addColumn<bool>("removeAPort");
    QTest::addColumn<bool>("starts");

    QTest::newRow("one module, file kept, port added") << true << 1 << false << true;
    QTest::newRow("a port also removed") << true << 1 << true << false;
    QTest::newRow("two modules") << true << 2 << false << false;
    QTest::newRow("file not kept") << false << 1 << false << false;
}

void TestModeSwitching::portChangeStartsUnattendedUpdate()
{
    QFETCH(bool, leaveSelection);
    QFETCH(int, modules);
    QFETCH(bool, removeAPort);
    QFETCH(bool, starts);

    ToolHarness harness;
    const QString key = harness.host().addModule(setupFor(QStringLiteral("COM3"), Serial, 1));
    if (modules > 1)
        harness.host().addModule(setupFor(QStringLiteral("COM4"), Serial, 2, QStringLiteral("N")));
    harness.host().addPort(QStringLiteral("COM7"));
    harness.start();
    chooseFirmware(harness);
    harness.setLeaveSelection(leaveSelection);

    if (removeAPort)
        harness.host().removePort(QStringLiteral("COM7"));
    harness.host().addPort(QStringLiteral("COM8"));
    harness.host().reportPorts();

    QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), starts ? 1 : 0);
    QCOMPARE(harness.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id1")), starts);
}

QTEST_MAIN(TestModeSwitching)
#include "tst_modeswitching.moc"
