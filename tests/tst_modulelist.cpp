#include "appsettings.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "messagelog.h"
#include "pluginhandler.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "toolharness.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QGroupBox>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

namespace {
constexpr const char* SettingsGroup = "Container_FirmwareUpdate";
// A module kind the tool never offers.
constexpr const char* HiddenKind = "0055";

FakeHost::ModuleSetup moduleAt(const QString& key, const QString& nameInFirmware = QStringLiteral("1234"))
{
    FakeHost::ModuleSetup setup;
    setup.key = key;
    setup.port = key.section(QLatin1Char('/'), 0, 0);
    setup.nameInFirmware = nameInFirmware;
    setup.displayName = QStringLiteral("Module ") + key;
    return setup;
}

QVariant storedSetting(const QString& key)
{
    AppSettings settings;
    settings.beginGroup(QLatin1String(SettingsGroup));
    return settings.value(key);
}
}

class TestModuleList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void listsHostModules_data();
    void listsHostModules();
    void emptiedListDropsSelection();
    void rebuildSelectsFirstModule_data();
    void rebuildSelectsFirstModule();
    void selectionReadsVersionAndRemembersLink_data();
    void selectionReadsVersionAndRemembersLink();
    void selectionReadsFirmwareDirectory_data();
    void selectionReadsFirmwareDirectory();
    void closedDeviceIsNotAsked();
    void reportAboutSelectedIdleModule();
    void reportsThatLeaveSelectionAlone_data();
    void reportsThatLeaveSelectionAlone();

private:
    QTemporaryDir m_dir;
};

void TestModuleList::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("DUX_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    qputenv("DUX_TIME_SCALE", "0.02");
}

void TestModuleList::init()
{
    AppSettings settings;
    settings.clear();
    settings.sync();
}

void TestModuleList::listsHostModules_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("no modules") << QStringList() << QStringList() << QStringList();
    QTest::newRow("only excluded") << QStringList{"VC1/M/id1", "COM3/M/id1"} << QStringList{"1234", HiddenKind}
                                   << QStringList();
    QTest::newRow("display order kept") << QStringList{"COM9/A/id1", "COM3/B/id2", "COM5/C/id1"}
                                        << QStringList{"1234", "1234", "1234"}
                                        << QStringList{"COM9/A/id1", "COM3/B/id2", "COM5/C/id1"};
    QTest::newRow("VC prefix is case-sensitive")
        << QStringList{"VCx/M/id1", "vcx/M/id1", "xVC/M/id1"} << QStringList{"1234", "1234", "1234"}
        << QStringList{"vcx/M/id1", "xVC/M/id1"};
    QTest::newRow("key without slash is its own base name") << QStringList{"COM7", "VC7"}
                                                            << QStringList{"1234", "1234"} << QStringList{"COM7"};
    QTest::newRow("0055 left out on any port") << QStringList{"COM3/M/id1", "COM4/N/id1"}
                                               << QStringList{HiddenKind, "0056"} << QStringList{"COM4/N/id1"};
    QTest::newRow("empty base name") << QStringList{"/M/id1"} << QStringList{"1234"} << QStringList{"/M/id1"};
}

void TestModuleList::listsHostModules()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, listed);

    ToolHarness harness;
    for (int i = 0; i < keys.size(); ++i)
        harness.host().addModule(moduleAt(keys.at(i), kinds.at(i)));
    // A key the host lists without a plug-in behind it is skipped.
    harness.host().pluginHandler()->addModulePlugin(QStringLiteral("COM8/gone/id1"), nullptr, QString());
    harness.start();

    QCOMPARE(harness.listedKeys(), listed);
    auto* select = harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"));
    QCOMPARE(select->isEnabled(), !listed.isEmpty());
}

void TestModuleList::emptiedListDropsSelection()
{
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    harness.start();
    QCOMPARE(harness.listedKeys(), QStringList{key});

    // The module is still known to the host but no longer offered: the selection must not keep it.
    harness.host().module(key)->setNameInFirmware(QLatin1String(HiddenKind));
    QVERIFY(harness.invoke("on_btnRefresh_clicked"));
    QVERIFY(harness.listedKeys().isEmpty());
    QVERIFY(!harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"))->isEnabled());

    harness.history()->setPlainText(QStringLiteral("kept"));
    QVERIFY(harness.invoke("on_btnUpdate_clicked"));
    QCOMPARE(harness.historyText(), QStringLiteral("kept"));
    QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 0);
}

void TestModuleList::rebuildSelectsFirstModule_data()
{
    QTest::addColumn<bool>("leaveSelection");
    QTest::addColumn<bool>("fieldsCleared");

    QTest::newRow("file fields cleared") << false << true;
    QTest::newRow("leave file in selection") << true << false;
}

void TestModuleList::rebuildSelectsFirstModule()
{
    QFETCH(bool, leaveSelection);
    QFETCH(bool, fieldsCleared);

    ToolHarness harness;
    FakeHost::ModuleSetup first = moduleAt(QStringLiteral("COM3/A/id1"));
    FakeHost::ModuleSetup second = moduleAt(QStringLiteral("COM4/B/id1"));
    const QString firstKey = harness.host().addModule(first);
    const QString secondKey = harness.host().addModule(second);
    harness.host().device(firstKey)->setFirmwareVersion(QStringLiteral("1234V101"));
    harness.host().device(secondKey)->setFirmwareVersion(QStringLiteral("5678V202"));
    harness.start();
    harness.setLeaveSelection(leaveSelection);

    harness.modules()->setCurrentIndex(1);
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QStringLiteral("5678V202"));
    harness.lineEdit("leSize")->setText(QStringLiteral("1024"));

    QSignalSpy selections(harness.modules(), SIGNAL(currentIndexChanged(int)));
    QVERIFY(harness.invoke("on_btnRefresh_clicked"));
    QCOMPARE(selections.count(), 2);
    QCOMPARE(selections.at(0).at(0).toInt(), -1);
    QCOMPARE(selections.at(1).at(0).toInt(), 0);
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QStringLiteral("1234V101"));
    QCOMPARE(harness.lineEdit("leSize")->text().isEmpty(), fieldsCleared);
}

void TestModuleList::selectionReadsVersionAndRemembersLink_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("connectionKey");
    QTest::addColumn<bool>("remembered");

    QTest::newRow("firmware") << "1234V101" << "COM3/link" << true;
    QTest::newRow("firmware, lower-case v") << "1234v101" << "COM3/link" << true;
    QTest::newRow("bootloader") << "1234B101" << "COM3/link" << false;
    QTest::newRow("no answer") << "" << "COM3/link" << false;
    QTest::newRow("connection key without port part") << "1234V101" << "/link" << false;
    QTest::newRow("connection key without slash") << "1234V101" << "COM3" << true;
}

void TestModuleList::selectionReadsVersionAndRemembersLink()
{
    QFETCH(QString, version);
    QFETCH(QString, connectionKey);
    QFETCH(bool, remembered);

    constexpr int LinkRate = 57600;
    ToolHarness harness;
    FakeHost::ModuleSetup setup = moduleAt(QStringLiteral("COM3/M/id5"));
    setup.address = 5;
    setup.connectionKey = connectionKey;
    const QString key = harness.host().addModule(setup);
    harness.host().device(key)->setFirmwareVersion(version);
    harness.host().handler(key)->setDataRate(LinkRate);

    MessageLog log;
    harness.start();

    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), version);
    QVERIFY(harness.tool()->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->isEnabled());
    QVERIFY(log.contains(QStringLiteral("FirmwareUpdate::on_cmbModules_currentIndexChanged() firmware version: \"%1\"")
                             .arg(version)));
    QCOMPARE(storedSetting(QStringLiteral("COM3_M_Bitrate")), remembered ? QVariant(LinkRate) : QVariant());
    QCOMPARE(storedSetting(QStringLiteral("COM3_M_Bitrate_Id")), remembered ? QVariant(5) : QVariant());
    AppSettings settings;
    settings.beginGroup(QLatin1String(SettingsGroup));
    QCOMPARE(settings.childKeys().size(), remembered ? 2 : 0);
}

void TestModuleList::selectionReadsFirmwareDirectory_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("deviceOpen");

    QTest::newRow("nothing stored") << false << true;
    QTest::newRow("stored") << true << true;
    QTest::newRow("stored, device closed") << true << false;
}

void TestModuleList::selectionReadsFirmwareDirectory()
{
    QFETCH(bool, stored);
    QFETCH(bool, deviceOpen);

    const QString folder = m_dir.filePath(QStringLiteral("firmware"));
    QDir().mkpath(folder);
    if (stored) {
        // What the file identification stores: the file's path, under the module name.
        AppSettings settings;
        settings.setValue(QStringLiteral("Container_FirmwareUpdate/M_Dir"), folder + QStringLiteral("/fw.hex"));
    }
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    if (!deviceOpen)
        harness.host().handler(key)->closeDevice();
    harness.start();

    // The file dialog starts where the selection says; read it and close the dialog.
    QString shownFolder;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(window);
            if (dialog && dialog->isVisible()) {
                poll.stop();
                shownFolder = dialog->directory().absolutePath();
                dialog->reject();
            }
        }
    });
    constexpr int PollMs = 20;
    poll.start(PollMs);
    auto* select = harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"));
    QVERIFY(harness.invoke("toolSelectAction", Q_ARG(QAction*, select->menu()->actions().last())));
    QCOMPARE(shownFolder, stored ? folder : QStringLiteral("/"));
}

void TestModuleList::closedDeviceIsNotAsked()
{
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    harness.host().handler(key)->closeDevice();
    MessageLog log;
    harness.start();

    QVERIFY(log.messages().contains(QStringLiteral("FirmwareUpdate::on_cmbModules_currentIndexChanged() device not open!")));
    QCOMPARE(harness.host().device(key)->versionQueryCount(), 0);
    QVERIFY(harness.lineEdit("leActualFirmware")->text().isEmpty());
    QVERIFY(!harness.tool()->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->isEnabled());
    QCOMPARE(storedSetting(QStringLiteral("COM3_M_Bitrate")), QVariant());
}

void TestModuleList::reportAboutSelectedIdleModule()
{
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    harness.start();
    QCOMPARE(harness.listedKeys(), QStringList{key});

    const QString later = harness.host().addModule(moduleAt(QStringLiteral("COM4/N/id1")));
    QVERIFY(harness.invoke("handleModulePlugin", Q_ARG(DUXLModuleInterface*, harness.host().module(key)),
                           Q_ARG(QString, QStringLiteral("deviceTreeReady"))));

    // lightskyblue
    QVERIFY(harness.history()->toHtml().contains(QStringLiteral("color:#87cefa;\">Module COM3/M/id1 deviceTreeReady")));
    // The selection is dropped at once...
    harness.history()->setPlainText(QStringLiteral("kept"));
    QVERIFY(harness.invoke("on_btnUpdate_clicked"));
    QCOMPARE(harness.historyText(), QStringLiteral("kept"));
    // ... and the list is rebuilt 2.5 s (scaled) later, not now.
    QCOMPARE(harness.listedKeys(), QStringList{key});
    QTRY_COMPARE(harness.listedKeys(), (QStringList{key, later}));
}

void TestModuleList::reportsThatLeaveSelectionAlone_data()
{
    QTest::addColumn<bool>("aboutSelected");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("updating");

    QTest::newRow("another module") << false << true << false;
    QTest::newRow("hidden tool") << true << false << false;
    QTest::newRow("update under way") << true << true << true;
}

void TestModuleList::reportsThatLeaveSelectionAlone()
{
    QFETCH(bool, aboutSelected);
    QFETCH(bool, visible);
    QFETCH(bool, updating);

    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    const QString other = harness.host().addModule(moduleAt(QStringLiteral("COM4/N/id1")));
    harness.start(visible);
    if (updating) {
        // The module ignores the bootloader-entry command: the update stays under way, waiting.
        harness.host().device(key)->setFailure(SimulatedModule::FailureMode::NoReply,
                                               SimulatedModule::EnterBootloaderCommand);
        harness.lineEdit("leFilename")->setText(FirmwareBuilder::writeFile(
            m_dir.filePath(QStringLiteral("files/fw.hex")), FirmwareBuilder::firmwareHex("1234V102")));
        QVERIFY(harness.invoke("on_btnUpdate_clicked"));
        QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
    }
    const QString before = harness.historyText();
    const QString extra = harness.host().addModule(moduleAt(QStringLiteral("COM5/X/id1")));
    QVERIFY(harness.invoke("handleModulePlugin",
                           Q_ARG(DUXLModuleInterface*, harness.host().module(aboutSelected ? key : other)),
                           Q_ARG(QString, QStringLiteral("changed"))));

    QCOMPARE(harness.historyText(), before);
    QTest::qWait(200);
    QVERIFY(!harness.listedKeys().contains(extra));
    if (!updating) {
        // The selection is still there: an update start reaches the module.
        QVERIFY(harness.invoke("on_btnUpdate_clicked"));
        QVERIFY(harness.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id1")));
    }
}

QTEST_MAIN(TestModuleList)
#include "tst_modulelist.moc"
