#include "command.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "global.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "ptymodule.h"
#include "serialcommandhandler.h"
#include "serialconnection.h"
#include "serialportdescription.h"
#include "simulatedmodule.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
constexpr int ProbeTimeoutMs = 100;
// A parked link lives at least 10 s and is looked at every 2 s.
constexpr int ParkedReleaseMs = 15000;
constexpr int PollIntervalMs = 50;
constexpr int ReturnTimeoutMs = 5000;
}

class TestDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void linkKinds_data();
    void linkKinds();
    void portListLines_data();
    void portListLines();
    void registersModulesFoundOnPorts();
    void vanishedPortTakesItsPluginsAlong();
    void usbModuleComesBackUnderItsNewPort();
    void linkOwnedByAnUpdateOutlivesItsPort();
    void rescanFindsAModuleThatAnswersLater();
};

void TestDiscovery::initTestCase()
{
    qRegisterMetaType<DUXLModuleInterface*>();
}

void TestDiscovery::linkKinds_data()
{
    QTest::addColumn<QSerialPortInfo>("port");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("connectionKey");
    QTest::newRow("simulated USB module")
        << describeSerialPort(QStringLiteral("ttySIM3"), QStringLiteral("/dev/pts/3"),
                              QLatin1String(PortListFile::UsbDescription))
        << int(DUXLConnectionInterface::Usb) << "ttySIM3/USB";
    QTest::newRow("simulated serial module")
        << describeSerialPort(QStringLiteral("ttySIM4"), QStringLiteral("/dev/pts/4"),
                              QLatin1String(PortListFile::SerialDescription))
        << int(DUXLConnectionInterface::Serial) << "ttySIM4/Serial";
    QTest::newRow("CDC-ACM device") << describeSerialPort(QStringLiteral("ttyACM0")) << int(DUXLConnectionInterface::Usb)
                                    << "ttyACM0/USB";
    QTest::newRow("USB serial adapter") << describeSerialPort(QStringLiteral("ttyUSB0"))
                                        << int(DUXLConnectionInterface::Serial) << "ttyUSB0/Serial";
    QTest::newRow("on-board UART") << describeSerialPort(QStringLiteral("ttyS0")) << int(DUXLConnectionInterface::Serial)
                                   << "ttyS0/Serial";
}

void TestDiscovery::linkKinds()
{
    QFETCH(QSerialPortInfo, port);
    QFETCH(int, kind);
    QFETCH(QString, connectionKey);
    QCOMPARE(ModuleDiscovery::linkKindOf(port), kind);
    QCOMPARE(ModuleDiscovery::connectionKey(port.portName(), kind), connectionKey);
}

void TestDiscovery::portListLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("ports");
    QTest::newRow("serial and USB") << QByteArray("ttyA0\t/dev/pts/3\tserial\nttyB0\t/dev/pts/4\tusb\n")
                                    << QStringList{"ttyA0", "ttyB0"};
    QTest::newRow("empty port name") << QByteArray("\t/dev/pts/3\tserial\n") << QStringList();
    QTest::newRow("empty location") << QByteArray("ttyA0\t\tserial\n") << QStringList();
    QTest::newRow("two fields") << QByteArray("ttyA0\t/dev/pts/3\n") << QStringList();
    QTest::newRow("four fields") << QByteArray("ttyA0\t/dev/pts/3\tserial\tx\n") << QStringList();
    QTest::newRow("unknown kind, next line read")
        << QByteArray("ttyA0\t/dev/pts/3\tradio\nttyB0\t/dev/pts/4\tserial\n") << QStringList{"ttyB0"};
}

void TestDiscovery::portListLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, ports);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("ports")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    QStringList read;
    for (const QSerialPortInfo& port : PortListFile::read(file.fileName()))
        read.append(port.portName());
    QCOMPARE(read, ports);
}

void TestDiscovery::registersModulesFoundOnPorts()
{
    PtyModule first(ModuleServer::LinkKind::Serial, QStringLiteral("ttyA"));
    PtyModule second(ModuleServer::LinkKind::Serial, QStringLiteral("ttyB"));
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

void TestDiscovery::vanishedPortTakesItsPluginsAlong()
{
    PtyModule first(ModuleServer::LinkKind::Serial, QStringLiteral("ttyC"));
    PtyModule second(ModuleServer::LinkKind::Serial, QStringLiteral("ttyD"));
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

void TestDiscovery::usbModuleComesBackUnderItsNewPort()
{
    QTemporaryDir folder;
    const QString portList = folder.filePath(QStringLiteral("ports"));
    PtyModule usb(ModuleServer::LinkKind::UsbLike, QStringLiteral("ttyU"), portList);
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

    // The bootloader-entry command restarts the module, which comes back as the next port.
    Command entry(1, SimulatedModule::EnterBootloaderCommand, SimulatedModule::EnterBootloaderType,
                  SimulatedModule::EnterBootloaderBank, SimulatedModule::EnterBootloaderValue, false, 12);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ttyU0 .*serial port error")));
    connection->commandHandler()->doDirectRequestWithoutReply(&entry);
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

void TestDiscovery::linkOwnedByAnUpdateOutlivesItsPort()
{
    PtyModule module(ModuleServer::LinkKind::Serial, QStringLiteral("ttyE"));
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
    QTest::qWait(100);
    QVERIFY(connection);
    QVERIFY(!connection->commandHandler()->isDeviceOpen());
    Global::instance(false)->unregisterThread(Qt::HANDLE(this));
    // With the thread gone the parked link is released at the next check after its grace time.
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), ParkedReleaseMs);
}

void TestDiscovery::rescanFindsAModuleThatAnswersLater()
{
    PtyModule module(ModuleServer::LinkKind::Serial, QStringLiteral("ttyF"));
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

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
