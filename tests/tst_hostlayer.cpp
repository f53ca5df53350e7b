#include "appsettings.h"
#include "basictools.h"
#include "command.h"
#include "functionname.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "serialportdescription.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestHostLayer : public QObject
{
    Q_OBJECT
private slots:
    void matchFirmwareVersion_data();
    void matchFirmwareVersion();
    void settingsLandInIniFileUnderHome();
    void peripheryManagerReportsChanges();
    void pluginHandlerLooksUpByKey();
};

void TestHostLayer::matchFirmwareVersion_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bootloader text") << "1234B101" << "1234V567" << "1234";
    QTest::newRow("firmware text") << "1234V308" << "1234V567" << "1234";
    QTest::newRow("other module type") << "4321V567" << "1234V567" << "";
    QTest::newRow("C version letter in file") << "1234B101" << "1234C567" << "1234";
    QTest::newRow("three-digit type") << "123B1.00" << "123V4.56" << "123";
    QTest::newRow("three against four digits") << "123B1.00" << "1234V567" << "";
    QTest::newRow("leading C is part of type") << "C123B100" << "C123V456" << "C123";
    QTest::newRow("leading C missing on module") << "123B1000" << "C123V456" << "";
    QTest::newRow("empty module text") << "" << "1234V567" << "";
    QTest::newRow("empty file version") << "1234V308" << "" << "";
    QTest::newRow("no letter at all") << "12345678" << "12345678" << "";
}

void TestHostLayer::matchFirmwareVersion()
{
    QFETCH(QString, module);
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QCOMPARE(BasicTools::matchFirmwareVersion(module, file, 0), expected);
}

void TestHostLayer::settingsLandInIniFileUnderHome()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString home = dir.path() + QStringLiteral("/home");
    qputenv(AppSettings::HomeEnvironmentVariable, home.toLocal8Bit());
    QCOMPARE(AppSettings::homePath(), home);
    QVERIFY(QFileInfo(home).isDir());
    {
        AppSettings settings;
        settings.beginGroup(QStringLiteral("Container_FirmwareUpdate"));
        settings.setValue(QStringLiteral("M_Dir"), QStringLiteral("/tmp/fw.hex"));
        settings.endGroup();
        QCOMPARE(settings.format(), QSettings::IniFormat);
        QVERIFY(settings.fileName().startsWith(home + QLatin1Char('/')));
    }
    QFile ini(home + QStringLiteral("/dux.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    QVERIFY(text.contains("[Container_FirmwareUpdate]"));
    QVERIFY(text.contains("M_Dir=/tmp/fw.hex"));
    qunsetenv(AppSettings::HomeEnvironmentVariable);
}

void TestHostLayer::peripheryManagerReportsChanges()
{
    QStringList names{QStringLiteral("COM3")};
    PeripheryManager* manager = PeripheryManager::instance();
    manager->setPortSource([&names] {
        QList<QSerialPortInfo> ports;
        for (const QString& name : names)
            ports.append(describeSerialPort(name));
        return ports;
    });
    QSignalSpy spy(manager, &PeripheryManager::handleUSBInterfaces);

    manager->checkActualUSBDevices(false);
    QCOMPARE(spy.count(), 1);
    manager->checkActualUSBDevices(true);
    QCOMPARE(spy.count(), 1);

    names = QStringList{QStringLiteral("COM3"), QStringLiteral("COM9")};
    manager->checkActualUSBDevices(true);
    QCOMPARE(spy.count(), 2);
    const auto actual = spy.last().at(0).value<QList<QSerialPortInfo>>();
    const auto old = spy.last().at(1).value<QList<QSerialPortInfo>>();
    QCOMPARE(actual.size(), 2);
    QCOMPARE(actual.at(1).portName(), QStringLiteral("COM9"));
    QCOMPARE(old.size(), 1);
    QCOMPARE(old.at(0).portName(), QStringLiteral("COM3"));

    manager->setPollInterval(5);
    names = QStringList{QStringLiteral("COM9")};
    QVERIFY(spy.wait(1000));
    manager->setPollInterval(0);
    QCOMPARE(spy.last().at(0).value<QList<QSerialPortInfo>>().size(), 1);
    manager->setPortSource({});
}

void TestHostLayer::pluginHandlerLooksUpByKey()
{
    PluginHandler handler;
    QSignalSpy added(&handler, &PluginHandler::modulePluginAdded);
    handler.addModulePlugin(QStringLiteral("COM4/M2/id1"), nullptr, QStringLiteral("COM4/serial"));
    handler.addModulePlugin(QStringLiteral("COM3/M1/id1"), nullptr, QStringLiteral("COM3/serial"));
    QCOMPARE(added.count(), 2);
    QCOMPARE(handler.getModulePluginKeys(true), QStringList({"COM4/M2/id1", "COM3/M1/id1"}));
    QCOMPARE(handler.getModulePluginKeys(false), QStringList({"COM3/M1/id1", "COM4/M2/id1"}));
    QCOMPARE(handler.connectionKey(QStringLiteral("COM3/M1/id1")), QStringLiteral("COM3/serial"));
    QCOMPARE(handler.connectionKey(QStringLiteral("COM5/M1/id1")), QString());
    QVERIFY(!handler.getConnectionPlugin(QStringLiteral("COM3/serial")));
    handler.removeModulePlugin(QStringLiteral("COM4/M2/id1"));
    QCOMPARE(handler.getModulePluginKeys(true), QStringList({"COM3/M1/id1"}));
}

QTEST_MAIN(TestHostLayer)
#include "tst_hostlayer.moc"
