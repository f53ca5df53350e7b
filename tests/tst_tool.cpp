#include "appsettings.h"
#include "command.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "global.h"
#include "messagelog.h"
#include "pluginhandler.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "toolharness.h"
#include "updateoutcome.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

namespace {
constexpr int Usb = DUXLConnectionInterface::Usb;
constexpr int Serial = DUXLConnectionInterface::Serial;
constexpr unsigned char EraseCommand = 200;
constexpr unsigned char RestartCommand = 205;
constexpr unsigned char ParameterCommand = 206;
constexpr const char* SettingsGroup = "Container_FirmwareUpdate";
// A module kind the tool never offers.
constexpr const char* HiddenKind = "0055";
// The rate the module's link runs at in firmware mode, remembered when the module is chosen.
constexpr int FirmwareRate = 19200;
constexpr const char* NewIdentifier = "1234V102";
constexpr const char* ModuleFirmware = "1234V101";
constexpr const char* ModuleBootloader = "1234B101";
// A whole update at DUX_TIME_SCALE 0.02 takes well under a second; this is the ceiling.
constexpr int UpdateTimeoutMs = 30000;
// How long a test waits to be sure that a scaled single-shot timer did not fire.
constexpr int QuietMs = 300;

using Completion = QPair<QString, QString>;

FakeHost::ModuleSetup setupFor(const QString& port, int linkKind = Serial, unsigned char address = 1,
                               const QString& moduleName = QStringLiteral("M"))
{
    FakeHost::ModuleSetup setup;
    setup.port = port;
    setup.linkKind = linkKind;
    setup.address = address;
    setup.moduleName = moduleName;
    return setup;
}

// A module listed under `key` (its port is the key's first part).
FakeHost::ModuleSetup moduleAt(const QString& key, const QString& nameInFirmware = QStringLiteral("1234"))
{
    FakeHost::ModuleSetup setup = setupFor(key.section(QLatin1Char('/'), 0, 0));
    setup.key = key;
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

// Whether `lines` occur in `text` in this order (each after the previous one).
bool containsInOrder(const QString& text, const QStringList& lines, QString* missing)
{
    int from = 0;
    for (const QString& line : lines) {
        const int at = text.indexOf(line, from);
        if (at < 0) {
            *missing = line;
            return false;
        }
        from = at + line.size();
    }
    return true;
}

QList<Completion> completions(const QSignalSpy& spy)
{
    QList<Completion> seen;
    for (const QList<QVariant>& call : spy)
        seen.append({call.at(0).toString(), call.at(1).toString()});
    return seen;
}

// The outcome seam's reports of the tool's updates.
QObject* outcomeOf(QObject* tool)
{
    return tool->findChild<UpdateOutcome*>(QStringLiteral("updateOutcome"));
}

UpdateOutcome::Report onlyReport(const QSignalSpy& spy)
{
    return spy.size() == 1 ? spy.first().first().value<UpdateOutcome::Report>() : UpdateOutcome::Report();
}

bool workerRunning()
{
    return Global::instance(false)->registeredThreadCount() > 0;
}

// What the pool holds under the chosen file's name; NoName: the name field is empty (Cancel cleared it);
// or the pool folder is a regular file.
enum class Pooled { Nothing, ChosenFile, OtherFile, NoName, FolderIsFile };
// The file named before Update is pressed.
enum class Chosen { Firmware, CutShort, NotHex, OtherType };
}

Q_DECLARE_METATYPE(Pooled)
Q_DECLARE_METATYPE(Chosen)

#define QVERIFY_IN_ORDER(text, lines)                                                                                  \
    do {                                                                                                               \
        QString missing;                                                                                               \
        QVERIFY2(containsInOrder(text, lines, &missing),                                                               \
                 qPrintable(QStringLiteral("missing (in order): ") + missing + QStringLiteral("\n") + text));          \
    } while (false)

// The tool among the host's fakes: the module list, the mode switches of a module under update, and
// whole updates through the widget.
class TestTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsHostModules_data();
    void listsHostModules();
    void rebuildSelectsFirstModule_data();
    void rebuildSelectsFirstModule();
    void selectionReadsVersionAndRemembersLink_data();
    void selectionReadsVersionAndRemembersLink();
    void selectionReadsFirmwareDirectory_data();
    void selectionReadsFirmwareDirectory();
    void moduleReports_data();
    void moduleReports();

    void workerRequestsReachModuleUnderUpdate();
    void closeDevice_data();
    void closeDevice();
    void reopenByLinkKindAndState_data();
    void reopenByLinkKindAndState();
    void keyAlreadyOnNewPortIsKept();
    void portChangesThatAreNotFollowed_data();
    void portChangesThatAreNotFollowed();

    void startWithoutLinkDoesNothing();
    void firstCallEntersBootloader_data();
    void firstCallEntersBootloader();
    void wholeUpdate_data();
    void wholeUpdate();
    void wholeUpdateOnUsbLink();
    void cancel_data();
    void cancel();
    void completionKeepsCopyInPool_data();
    void completionKeepsCopyInPool();
    void failedCompletionWithoutLink_data();
    void failedCompletionWithoutLink();
    void unattendedNextUpdate_data();
    void unattendedNextUpdate();

private:
    // A module of kind 1234 (or `kind`) at `port`, its device set for the test firmware.
    QString addModule(ToolHarness& harness, const QString& port, int linkKind, unsigned char address,
                      unsigned char bootloaderAddress = 1, const QString& kind = QStringLiteral("1234"));
    // Writes firmware with the new identifier and names it in the form, as the user would.
    QString chooseFirmware(ToolHarness& harness);
    // Starts an update of a USB module so far that the tool holds its handler and waits for the port change.
    QString startUsbUpdate(ToolHarness& harness, const QString& port, unsigned char address);
    QString poolPath() const;

    QTemporaryDir m_dir;
};

void TestTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("DUX_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    qputenv("DUX_TIME_SCALE", "0.02");
}

void TestTool::init()
{
    AppSettings settings;
    settings.clear();
    settings.sync();
    QFile::remove(poolPath());
    QDir(poolPath()).removeRecursively();
    QDir().mkpath(poolPath());
}

void TestTool::cleanup()
{
    // No worker may outlive a test into the next one's registry count.
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);
}

QString TestTool::poolPath() const
{
    return QDir::cleanPath(m_dir.filePath(QStringLiteral("Firmware")));
}

QString TestTool::addModule(ToolHarness& harness, const QString& port, int linkKind, unsigned char address,
                            unsigned char bootloaderAddress, const QString& kind)
{
    FakeHost::ModuleSetup setup = setupFor(port, linkKind, address);
    setup.bootloaderAddress = bootloaderAddress;
    setup.nameInFirmware = kind;
    const QString key = harness.host().addModule(setup);
    SimulatedModule* device = harness.host().device(key);
    device->setFlashBase(FirmwareBuilder::FlashBase);
    device->setFirmwareVersion(QLatin1String(ModuleFirmware));
    device->setBootloaderVersion(QLatin1String(ModuleBootloader));
    harness.host().handler(key)->setDataRate(FirmwareRate);
    return key;
}

QString TestTool::chooseFirmware(ToolHarness& harness)
{
    const QString path = FirmwareBuilder::writeFile(m_dir.filePath(QStringLiteral("files/fw.hex")),
                                                    FirmwareBuilder::firmwareHex(NewIdentifier));
    harness.lineEdit("leFilename")->setText(path);
    return path;
}

QString TestTool::startUsbUpdate(ToolHarness& harness, const QString& port, unsigned char address)
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

void TestTool::listsHostModules_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("listed");

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

void TestTool::listsHostModules()
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
    QCOMPARE(harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"))->isEnabled(), !listed.isEmpty());
}

void TestTool::rebuildSelectsFirstModule_data()
{
    QTest::addColumn<bool>("leaveSelection");
    QTest::addColumn<bool>("fieldsCleared");

    QTest::newRow("file fields cleared") << false << true;
    QTest::newRow("leave file in selection") << true << false;
}

void TestTool::rebuildSelectsFirstModule()
{
    QFETCH(bool, leaveSelection);
    QFETCH(bool, fieldsCleared);

    ToolHarness harness;
    const QString firstKey = harness.host().addModule(moduleAt(QStringLiteral("COM3/A/id1")));
    const QString secondKey = harness.host().addModule(moduleAt(QStringLiteral("COM4/B/id1")));
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

void TestTool::selectionReadsVersionAndRemembersLink_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("connectionKey");
    QTest::addColumn<bool>("deviceOpen");
    QTest::addColumn<bool>("remembered");

    QTest::newRow("firmware") << "1234V101" << "COM3/link" << true << true;
    QTest::newRow("firmware, lower-case v") << "1234v101" << "COM3/link" << true << true;
    QTest::newRow("bootloader") << "1234B101" << "COM3/link" << true << false;
    QTest::newRow("connection key without port part") << "1234V101" << "/link" << true << false;
    QTest::newRow("connection key without slash") << "1234V101" << "COM3" << true << true;
    QTest::newRow("closed device is not asked") << "1234V101" << "COM3/link" << false << false;
}

void TestTool::selectionReadsVersionAndRemembersLink()
{
    QFETCH(QString, version);
    QFETCH(QString, connectionKey);
    QFETCH(bool, deviceOpen);
    QFETCH(bool, remembered);

    constexpr int LinkRate = 57600;
    ToolHarness harness;
    FakeHost::ModuleSetup setup = moduleAt(QStringLiteral("COM3/M/id5"));
    setup.address = 5;
    setup.connectionKey = connectionKey;
    const QString key = harness.host().addModule(setup);
    harness.host().device(key)->setFirmwareVersion(version);
    harness.host().handler(key)->setDataRate(LinkRate);
    if (!deviceOpen)
        harness.host().handler(key)->closeDevice();
    harness.start();

    QCOMPARE(harness.host().device(key)->versionQueryCount(), deviceOpen ? 1 : 0);
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), deviceOpen ? version : QString());
    QCOMPARE(harness.tool()->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->isEnabled(), deviceOpen);
    QCOMPARE(storedSetting(QStringLiteral("COM3_M_Bitrate")), remembered ? QVariant(LinkRate) : QVariant());
    QCOMPARE(storedSetting(QStringLiteral("COM3_M_Bitrate_Id")), remembered ? QVariant(5) : QVariant());
    AppSettings settings;
    settings.beginGroup(QLatin1String(SettingsGroup));
    QCOMPARE(settings.childKeys().size(), remembered ? 2 : 0);
}

void TestTool::selectionReadsFirmwareDirectory_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("deviceOpen");

    QTest::newRow("stored") << true << true;
    QTest::newRow("stored, device closed") << true << false;
}

void TestTool::selectionReadsFirmwareDirectory()
{
    QFETCH(bool, stored);
    QFETCH(bool, deviceOpen);

    // What the file identification stores: the file's path, under the module name.
    const QString file = m_dir.filePath(QStringLiteral("firmware/fw.hex"));
    if (stored) {
        AppSettings settings;
        settings.setValue(QStringLiteral("Container_FirmwareUpdate/M_Dir"), file);
    }
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    if (!deviceOpen)
        harness.host().handler(key)->closeDevice();
    harness.start();

    // The browse entry names where the file dialog starts.
    QMenu* menu = harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"))->menu();
    emit menu->aboutToShow();
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("Browse ") + (stored ? file : QStringLiteral("/")));
}

void TestTool::moduleReports_data()
{
    // A host report about a module: only one about the selected module, while the tool is shown and
    // idle, drops the selection and rebuilds the list later.
    QTest::addColumn<bool>("aboutSelected");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("updating");
    QTest::addColumn<bool>("dropsSelection");

    QTest::newRow("selected idle module") << true << true << false << true;
    QTest::newRow("another module") << false << true << false << false;
    QTest::newRow("hidden tool") << true << false << false << false;
    QTest::newRow("update under way") << true << true << true << false;
}

void TestTool::moduleReports()
{
    QFETCH(bool, aboutSelected);
    QFETCH(bool, visible);
    QFETCH(bool, updating);
    QFETCH(bool, dropsSelection);

    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    const QString other = harness.host().addModule(moduleAt(QStringLiteral("COM4/N/id1")));
    harness.start(visible);
    if (updating) {
        // The module ignores the bootloader-entry command: the update stays under way, waiting.
        harness.host().device(key)->setFailure(SimulatedModule::FailureMode::NoReply,
                                               SimulatedModule::EnterBootloaderCommand);
        chooseFirmware(harness);
        QVERIFY(harness.invoke("on_btnUpdate_clicked"));
        QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
    }
    const QString before = harness.historyText();
    const QString extra = harness.host().addModule(moduleAt(QStringLiteral("COM5/X/id1")));
    QVERIFY(harness.invoke("handleModulePlugin",
                           Q_ARG(DUXLModuleInterface*, harness.host().module(aboutSelected ? key : other)),
                           Q_ARG(QString, QStringLiteral("deviceTreeReady"))));

    if (dropsSelection) {
        QVERIFY(harness.historyText().contains(QStringLiteral("Module COM3/M/id1 deviceTreeReady")));
        // The selection is dropped at once, the list rebuilt 2.5 s (scaled) later.
        harness.history()->setPlainText(QStringLiteral("kept"));
        QVERIFY(harness.invoke("on_btnUpdate_clicked"));
        QCOMPARE(harness.historyText(), QStringLiteral("kept"));
        QVERIFY(!harness.listedKeys().contains(extra));
        QTRY_VERIFY(harness.listedKeys().contains(extra));
        return;
    }
    QCOMPARE(harness.historyText(), before);
    QTest::qWait(QuietMs);
    QVERIFY(!harness.listedKeys().contains(extra));
    if (!updating) {
        // The selection is still there: an update start reaches the module.
        QVERIFY(harness.invoke("on_btnUpdate_clicked"));
        QVERIFY(harness.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id1")));
    }
}

void TestTool::workerRequestsReachModuleUnderUpdate()
{
    ToolHarness harness;
    const QString key = startUsbUpdate(harness, QStringLiteral("ttyACM0"), 1);
    QVERIFY(!key.isEmpty());
    QCOMPARE(harness.host().device(key)->mode(), SimulatedModule::Mode::Bootloader);
    QVERIFY(!harness.button("btnCancel")->isEnabled());

    // The first version query of the worker frees Cancel; only the low 8 bits of the address count.
    QString version;
    QVERIFY(harness.invoke("handleGetFirmwareVersion", Q_ARG(QString*, &version), Q_ARG(int, 257)));
    QCOMPARE(version, QLatin1String(ModuleBootloader));
    QVERIFY(harness.button("btnCancel")->isEnabled());

    // The bar runs inverted only while the erase waits; each request arrives as sent.
    QStringList arrived;
    SimulatedCommandHandler* handler = harness.host().handler(key);
    QObject::connect(handler, &SimulatedCommandHandler::requestArrived, [&](const Command& request) {
        const bool inverted = harness.progressBar()->invertedAppearance();
        arrived << QStringLiteral("%1/%2 %3").arg(request.command()).arg(request.type()).arg(inverted);
    });
    for (const int command : {EraseCommand, ParameterCommand}) {
        Command request(1, quint8(command), 0, 0, 0, false, 12);
        Command reply;
        QVERIFY(harness.invoke("forwardDoDirectRequest", Q_ARG(Command*, &request), Q_ARG(Command*, &reply)));
        QVERIFY(reply.isValid());
        QCOMPARE(int(reply.command()), command);
        if (command == ParameterCommand)
            QCOMPARE(reply.value(), harness.host().device(key)->pageSize());
    }
    QVERIFY(!harness.progressBar()->invertedAppearance());
    Command request(1, ParameterCommand, 1, 0, 0, false, 12);
    QVERIFY(harness.invoke("forwardDoDirectRequestWithoutAnswer", Q_ARG(Command*, &request)));
    QCOMPARE(arrived, (QStringList{"200/0 1", "206/0 0", "206/1 0"}));
}

void TestTool::closeDevice_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<int>("closes");

    QTest::newRow("USB link is closed") << Usb << 1;
    QTest::newRow("serial link stays open") << Serial << 0;
}

void TestTool::closeDevice()
{
    QFETCH(int, linkKind);
    QFETCH(int, closes);

    ToolHarness harness;
    const QString key = harness.host().addModule(setupFor(QStringLiteral("COM3"), linkKind));
    harness.start();
    QVERIFY(harness.invoke("handleCloseDevice"));

    QCOMPARE(harness.host().handler(key)->closeCount(), closes);
    QCOMPARE(harness.host().handler(key)->isDeviceOpen(), closes == 0);
}

void TestTool::reopenByLinkKindAndState_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QList<int>>("acceptedRates");
    QTest::addColumn<int>("rememberedRate");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QString>("historyLine");
    // The remembered address is only seen in the debug line.
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
    QTest::newRow("kind 3 to bootloader, nothing remembered")
        << 3 << "1234" << any << 0 << 0 << QList<int>{1000} << "to bootloader mode"
        << "FirmwareUpdate::handleReOpenDevice() 0 lastDataRate: 1000 lastId: 1" << 0 << QList<int>();
    QTest::newRow("kind 8 to firmware, remembered")
        << 8 << "1234" << any << 250000 << 1 << QList<int>{250000} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() 1 lastDataRate: 250000 lastId: 4" << 0 << QList<int>();
    QTest::newRow("USB to ready") << Usb << "1234" << any << 0 << 2 << QList<int>() << "COM3/M/id4 Waiting..." << none
                                  << 0 << QList<int>{2};
    QTest::newRow("USB to bootloader") << Usb << "1234" << any << 0 << 0 << QList<int>() << "to bootloader mode"
                                       << none << 1 << QList<int>();
    QTest::newRow("USB to other mode") << Usb << "1234" << any << 0 << 7 << QList<int>() << "to other mode 7" << none
                                       << 1 << QList<int>();
    QTest::newRow("unknown link kind") << 7 << "1234" << any << 57600 << 1 << QList<int>() << "to firmware mode"
                                       << none << 0 << QList<int>();
    // A link without command handler: the note is still written, nothing else happens.
    QTest::newRow("serial without handler") << Serial << "1234" << any << 0 << 1 << QList<int>() << "to firmware mode"
                                            << none << 0 << QList<int>();
}

void TestTool::reopenByLinkKindAndState()
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
    setup.withHandler = !QByteArray(QTest::currentDataTag()).endsWith("without handler");
    const QString key = harness.host().addModule(setup);
    SimulatedCommandHandler* handler = harness.host().handler(key);
    if (rememberedRate) {
        // Choosing a module that runs its firmware remembers the rate of its link and its address.
        handler->setDataRate(rememberedRate);
    } else {
        harness.host().device(key)->setFirmwareVersion(QString());
    }
    harness.start();
    if (handler)
        handler->setAcceptedDataRates(acceptedRates);
    const int ratesBefore = handler ? handler->requestedDataRates().size() : 0;
    const int opensBefore = handler ? handler->openCount() : 0;

    MessageLog log;
    QVERIFY(harness.invoke("handleReOpenDevice", Q_ARG(int, state)));

    if (handler) {
    QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
        QCOMPARE(handler->openCount() - opensBefore, opens);
    }
    QCOMPARE(harness.host().module(key)->moduleStates(), moduleStates);
    QVERIFY2(harness.historyText().contains(historyLine), qPrintable(harness.historyText()));
    if (!debugLine.isEmpty())
        QVERIFY2(log.messages().contains(debugLine), qPrintable(log.messages().join(QLatin1Char('\n'))));
}

void TestTool::keyAlreadyOnNewPortIsKept()
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

void TestTool::portChangesThatAreNotFollowed_data()
{
    QTest::addColumn<bool>("updating");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("added");

    // The first call of a USB update waits for its port to change; nothing calls the update again before.
    QTest::newRow("update under way, no port change") << true << QStringList() << QStringList();
    QTest::newRow("update under way, ports only removed") << true << QStringList{"COM4", "COM5"} << QStringList();
    QTest::newRow("idle, port added") << false << QStringList() << QStringList{"COM9"};
}

void TestTool::portChangesThatAreNotFollowed()
{
    QFETCH(bool, updating);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, added);

    ToolHarness harness;
    harness.host().addPort(QStringLiteral("COM5"));
    QString key;
    if (updating) {
        key = startUsbUpdate(harness, QStringLiteral("COM4"), 3);
        QVERIFY(!key.isEmpty());
        QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Enter bootloader mode...", "Disconnecting..."}));
        QVERIFY(!harness.historyText().contains(QStringLiteral("Reopen device...")));
        QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
        QVERIFY(harness.host().module(key)->moduleStates().isEmpty());
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

void TestTool::startWithoutLinkDoesNothing()
{
    ToolHarness harness;
    FakeHost::ModuleSetup setup;
    setup.withConnection = false;
    const QString key = harness.host().addModule(setup);
    harness.start();
    chooseFirmware(harness);
    QVERIFY(harness.button("btnUpdate")->isEnabled());
    const QString before = harness.historyText();

    harness.button("btnUpdate")->click();
    QCOMPARE(harness.historyText(), before);
    QVERIFY(harness.button("btnUpdate")->isEnabled());
    QVERIFY(harness.host().module(key)->isPluginEnabled());
    QCOMPARE(harness.host().device(key)->versionQueryCount(), 0);
}

void TestTool::firstCallEntersBootloader_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<bool>("reopened");
    QTest::addColumn<Chosen>("chosen");
    QTest::addColumn<QString>("firmware");
    // What the history says instead of entering the bootloader; empty: it enters.
    QTest::addColumn<QString>("refusal");

    const QString v101 = QLatin1String(ModuleFirmware);
    QTest::newRow("serial") << Serial << "1234" << QList<int>{115200} << true << Chosen::Firmware << v101 << "";
    QTest::newRow("serial, module kind 2804") << Serial << "2804" << QList<int>{111111} << true << Chosen::Firmware
                                              << v101 << "";
    QTest::newRow("kind 3") << 3 << "1234" << QList<int>{1000} << false << Chosen::Firmware << v101 << "";
    QTest::newRow("unknown kind") << 7 << "1234" << QList<int>() << true << Chosen::Firmware << v101 << "";
    QTest::newRow("cut-short file") << Serial << "1234" << QList<int>() << false << Chosen::CutShort << v101
                                    << "fw.hex is cut short: reading ended at malformed line 66; it is not written.";
    QTest::newRow("no program") << Serial << "1234" << QList<int>() << false << Chosen::NotHex << v101
                                << "No firmware loaded: choose a HEX file first.";
    // Markup from a module stays text; control characters are dropped.
    QTest::newRow("another type, version with markup")
        << Serial << "1234" << QList<int>() << false << Chosen::OtherType << "1234V101<i>x</i><!--\x1b[2J"
        << "Module (1234V101<i>x</i><!--[2J) and Firmware (4321V102) do not match!";
}

void TestTool::firstCallEntersBootloader()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(QList<int>, rates);
    QFETCH(bool, reopened);
    QFETCH(Chosen, chosen);
    QFETCH(QString, firmware);
    QFETCH(QString, refusal);

    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), linkKind, 3, 1, kind);
    harness.host().device(key)->setFirmwareVersion(firmware);
    // After the selection's and the first call's version queries the module falls silent: the update
    // then waits, and only the first call is looked at.
    harness.host().device(key)->setFailure(SimulatedModule::FailureMode::NoReply, SimulatedModule::VersionQuery, 3);
    harness.start();
    QByteArray content = FirmwareBuilder::firmwareHex(chosen == Chosen::OtherType ? "4321V102" : NewIdentifier);
    if (chosen == Chosen::CutShort)
        content.insert(content.indexOf(":00000001FF"), '\n');
    harness.lineEdit("leFilename")->setText(FirmwareBuilder::writeFile(
        m_dir.filePath(chosen == Chosen::NotHex ? QStringLiteral("files/fw.txt") : QStringLiteral("files/fw.hex")),
        content));
    SimulatedCommandHandler* handler = harness.host().handler(key);
    const int ratesBefore = handler->requestedDataRates().size();
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    QCOMPARE(harness.button("btnUpdate")->isEnabled(), chosen != Chosen::NotHex);
    QVERIFY(harness.invoke("on_btnUpdate_clicked"));
    if (!refusal.isEmpty()) {
        QVERIFY2(harness.historyText().contains(refusal), qPrintable(harness.historyText()));
        QTRY_VERIFY(harness.button("btnRefresh")->isEnabled());
        QVERIFY(harness.host().device(key)->requests().isEmpty());
        QCOMPARE(harness.host().device(key)->mode(), SimulatedModule::Mode::Firmware);
        return;
    }

    const QVector<Command> requests = harness.host().device(key)->requests();
    QCOMPARE(requests.size(), 1);
    const Command& entry = requests.first();
    QCOMPARE(int(entry.moduleAddress()), 3);
    QCOMPARE(int(entry.command()), 242);
    QCOMPARE(int(entry.type()), 0x47);
    QCOMPARE(int(entry.motorBank()), 0x6E);
    QCOMPARE(entry.value(), 0x5D2C8B19);
    QVERIFY(!entry.isBroadcast());
    QCOMPARE(int(entry.replyAddress()), 12);
    QCOMPARE(harness.host().device(key)->mode(), SimulatedModule::Mode::Bootloader);

    QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
    QCOMPARE(harness.host().module(key)->moduleStates(), QList<int>{4});
    QCOMPARE(completions(completed), (QList<Completion>{{key, QStringLiteral("Start fw update")}}));
    QCOMPARE(harness.lineEdit("leProgress")->text(), QStringLiteral("Enter bootloader mode..."));
    QVERIFY(harness.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id3")));
    QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Firmwareupdate started @COM3/M/id3",
                                                         "Active firmware: (1234V101)", "Enter bootloader mode...",
                                                         "Reopen device..."}));
    QCOMPARE(harness.historyText().contains(QStringLiteral("to bootloader mode")), reopened);

    // The module and its link belong to the update now.
    QVERIFY(!harness.host().connection(key)->isActive());
    QVERIFY(!harness.host().connection(key)->isPluginEnabled());
    QVERIFY(!harness.host().module(key)->isPluginEnabled());
    for (const char* name : {"btnCancel", "btnUpdate", "btnRefresh"})
        QVERIFY2(!harness.button(name)->isEnabled(), name);
    QVERIFY(!harness.tool()->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->isEnabled());
}

void TestTool::wholeUpdate_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("bootloaderAddress");
    QTest::addColumn<bool>("startsInBootloader");
    // The firmware does not answer the version query (at the selection and at the update start).
    QTest::addColumn<bool>("silentFirmware");
    // A port appears (an unrelated USB device) while the image is written.
    QTest::addColumn<bool>("portAppears");
    // The host forgets the module after the restart and knows it again 200 ms later.
    QTest::addColumn<bool>("rediscovered");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QStringList>("history");

    const QStringList fromFirmware{"Firmwareupdate started @COM3/M/id3", "Active firmware: (1234V101)",
                                   "Enter bootloader mode...", "Reopen device...",
                                   // the call 5 s later finds the bootloader and starts the worker
                                   "Active firmware: (1234B101)", "Try to read bootloader version at id 1... (1)",
                                   "Bootloader: 1234B101", "Erasing...", "suit each other.", "Restarting module...",
                                   "to ready mode", "to firmware mode",
                                   "Restarted module with firmware version \"1234V102\".", "Update completed."};
    // A serial bootloader answers at address 1; on the other links the module keeps its address.
    const QList<int> serialRates{115200, FirmwareRate};
    QTest::newRow("serial") << Serial << "1234" << 1 << false << false << false << false << serialRates << fromFirmware;
    QTest::newRow("kind 3") << 3 << "1234" << 3 << false << false << false << false << QList<int>{1000, FirmwareRate}
                            << QStringList{"Active firmware: (1234B101)", "Try to read bootloader version at id 3"};
    // The completion waits for the module, one star every 300 ms (scaled to 6 ms) while it is unknown.
    QTest::newRow("serial, a port appears, module rediscovered")
        << Serial << "1234" << 1 << false << false << true << true << serialRates << fromFirmware + QStringList{"***"};
    // An empty version sends the worker to the bootloader's address at once.
    QTest::newRow("silent module on kind 3") << 3 << "1234" << 1 << false << true << false << false
                                             << QList<int>{1000, FirmwareRate}
                                             << QStringList{"Active firmware: ()", "Active firmware: (1234B101)",
                                                            "Try to read bootloader version at id 1... (1)",
                                                            "Bootloader: 1234B101", "Update completed."};
    // The module does not answer at its own address: the bootloader does at address 1.
    QTest::newRow("from the bootloader") << Serial << "1234" << 1 << true << false << false << false << serialRates
                                         << QStringList{"Firmwareupdate started @COM3/M/id3",
                                                        "Active firmware: (1234B101)", "Bootloader: 1234B101",
                                                        "Update completed."};
}

void TestTool::wholeUpdate()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(int, bootloaderAddress);
    QFETCH(bool, startsInBootloader);
    QFETCH(bool, silentFirmware);
    QFETCH(bool, portAppears);
    QFETCH(bool, rediscovered);
    QFETCH(QList<int>, rates);
    QFETCH(QStringList, history);

    // The link is remembered when the module last ran its firmware, or now at its selection: what the
    // tool stores about the module at COM3, address 3.
    {
        AppSettings settings;
        settings.beginGroup(QLatin1String(SettingsGroup));
        settings.setValue(QStringLiteral("COM3_M_Bitrate"), FirmwareRate);
        settings.setValue(QStringLiteral("COM3_M_Bitrate_Id"), 3);
    }
    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), linkKind, 3, quint8(bootloaderAddress), kind);
    SimulatedModule* device = harness.host().device(key);
    if (startsInBootloader)
        device->setMode(SimulatedModule::Mode::Bootloader);
    if (silentFirmware)
        device->setFailure(SimulatedModule::FailureMode::NoReply, SimulatedModule::VersionQuery, 1, 2);
    harness.start();
    if (portAppears) {
        QObject::connect(harness.lineEdit("leProgress"), &QLineEdit::textChanged, harness.tool(),
                         [&harness](const QString& text) {
                             if (!text.startsWith(QStringLiteral("Erasing")))
                                 return;
                             harness.host().addPort(QStringLiteral("ttyUSB7"));
                             harness.host().reportPorts();
                         });
    }
    if (rediscovered) {
        QObject::connect(harness.lineEdit("leProgress"), &QLineEdit::textChanged, harness.tool(),
                         [&harness, key](const QString& text) {
                             if (!text.startsWith(QStringLiteral("Update completed.")))
                                 return;
                             harness.host().withdrawModule(key);
                             constexpr int RediscoveryMs = 200;
                             QTimer::singleShot(RediscoveryMs, harness.tool(),
                                                [&harness, key] { harness.host().restoreModule(key); });
                         });
    }
    const QString file = chooseFirmware(harness);
    QCOMPARE(harness.lineEdit("leHexVersion")->text(), QLatin1String(NewIdentifier));
    SimulatedCommandHandler* handler = harness.host().handler(key);
    const int ratesBefore = handler->requestedDataRates().size();
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QSignalSpy outcomes(outcomeOf(harness.tool()), SIGNAL(finished(UpdateOutcome::Report)));
    QSignalSpy bootloaderShown(harness.lineEdit("leModuleVersion"), SIGNAL(textChanged(QString)));

    harness.button("btnUpdate")->click();
    QCOMPARE(device->mode(), SimulatedModule::Mode::Bootloader);
    if (startsInBootloader) {
        QCOMPARE(harness.progressBar()->maximum(), 0);
        QVERIFY(harness.modules()->signalsBlocked());
    }
    const QList<Completion> expected = startsInBootloader
        ? QList<Completion>{{key, QStringLiteral("true")}}
        : QList<Completion>{{key, QStringLiteral("Start fw update")}, {key, QStringLiteral("true")}};
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() == expected.size(), UpdateTimeoutMs);
    QCOMPARE(completions(completed), expected);
    const UpdateOutcome::Report report = onlyReport(outcomes);
    QVERIFY(report.success);
    QCOMPARE(report.phase, QStringLiteral("reconnect"));
    QCOMPARE(report.firmwareVersion, QLatin1String(NewIdentifier));
    QCOMPARE(report.moduleKey, key);

    QCOMPARE(device->mode(), SimulatedModule::Mode::Firmware);
    QCOMPARE(device->firmwareVersion(), QLatin1String(NewIdentifier));
    QCOMPARE(device->requestCount(SimulatedModule::EnterBootloaderCommand), startsInBootloader ? 0 : 1);
    QCOMPARE(harness.host().module(key)->moduleStates().isEmpty(), startsInBootloader);
    QCOMPARE(device->requestCount(RestartCommand), 1);
    QVERIFY(device->hasStoredChecksum());
    QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
    QVERIFY_IN_ORDER(harness.historyText(), history);
    QVERIFY(!harness.historyText().contains(QStringLiteral("Error")));
    QCOMPARE(harness.historyText().contains(
                 QStringLiteral("Port ttyUSB7 appeared during the update and is ignored: only a module on a USB link "
                                "comes back under a new port; the update stays on COM3.")),
             portAppears);

    // The result is shown, the module and its link are the host's again, the list is rebuilt (which
    // selects the module again and clears the file fields).
    QVERIFY(shownVersions.contains(QVariantList{QLatin1String(NewIdentifier)}));
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
    QVERIFY(bootloaderShown.contains(QVariantList{QLatin1String(ModuleBootloader)}));
    QCOMPARE(harness.listedKeys(), QStringList{key});
    QVERIFY(harness.lineEdit("leFilename")->text().isEmpty());
    QVERIFY(harness.host().connection(key)->isActive());
    QVERIFY(harness.host().connection(key)->isPluginEnabled());
    QVERIFY(harness.host().module(key)->isPluginEnabled());
    QVERIFY(harness.button("btnRefresh")->isEnabled());
    QVERIFY(!harness.button("btnCancel")->isEnabled());
    QVERIFY(!harness.modules()->signalsBlocked());
    QCOMPARE(harness.progressBar()->minimum(), 1);
    QCOMPARE(harness.progressBar()->maximum(), 99);
    QVERIFY(QFile::exists(QDir(poolPath()).filePath(QStringLiteral("fw.hex"))));
    QVERIFY(QFile::exists(file));
}

void TestTool::wholeUpdateOnUsbLink()
{
    ToolHarness harness;
    // The module leaves its port 100 ms after each switch (after the worker has finished with it); the
    // host knows it again at once.
    harness.host().setReenumerationDelays(100, 0);
    // Re-enumerated, the module answers at address 1: the tool follows it under the new key.
    const QString key = addModule(harness, QStringLiteral("ttyACM0"), Usb, 3);
    SimulatedModule* device = harness.host().device(key);
    harness.start();
    chooseFirmware(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QSignalSpy outcomes(outcomeOf(harness.tool()), SIGNAL(finished(UpdateOutcome::Report)));
    QSignalSpy progress(harness.lineEdit("leProgress"), SIGNAL(textChanged(QString)));

    harness.button("btnUpdate")->click();
    QCOMPARE(harness.lineEdit("leProgress")->text(), QStringLiteral("Disconnecting..."));
    const QString newKey = QStringLiteral("ttyACM2/M/id1");
    QTRY_VERIFY_WITH_TIMEOUT(harness.listedKeys() == QStringList{newKey}, UpdateTimeoutMs);
    // The update ends when the module is back under its new port, not at the worker's report.
    QVERIFY(onlyReport(outcomes).success);
    QCOMPARE(onlyReport(outcomes).firmwareVersion, QLatin1String(NewIdentifier));

    QCOMPARE(device->firmwareVersion(), QLatin1String(NewIdentifier));
    QCOMPARE(device->requestCount(RestartCommand), 1);
    QVERIFY_IN_ORDER(harness.historyText(),
                     (QStringList{"Firmwareupdate started @ttyACM0/M/id3", "Enter bootloader mode...",
                                  "Disconnecting...", "COM-Port has changed from ttyACM0 to ttyACM1",
                                  "Active firmware: (1234B101)", "Reconnected.", "Bootloader: 1234B101",
                                  "Restarting module...", "ttyACM1/M/id1 Waiting...", "Update completed.",
                                  "COM-Port has changed from ttyACM1 to ttyACM2", "Active firmware: (1234V102)",
                                  "Reconnected."}));
    QCOMPARE(harness.historyText().count(QStringLiteral("Reconnected.")), 2);
    QVERIFY(progress.contains(QVariantList{QStringLiteral("Reconnected.")}));
    // Nothing is reported to the host for a USB link.
    QVERIFY(completed.isEmpty());
    // "Error" until the module is back, then the list shows its new firmware.
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QTRY_COMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
    QVERIFY(QFile::exists(QDir(poolPath()).filePath(QStringLiteral("fw.hex"))));

    QVERIFY(harness.host().connection(newKey)->isActive());
    QVERIFY(harness.host().connection(newKey)->isPluginEnabled());
    QVERIFY(harness.host().module(newKey)->isPluginEnabled());
    QCOMPARE(harness.host().module(QStringLiteral("ttyACM1/M/id1")), nullptr);
}

void TestTool::cancel_data()
{
    QTest::addColumn<bool>("startsInBootloader");
    // Cancel when the worker asks for the page size; otherwise right after Update, before the worker runs.
    QTest::addColumn<bool>("whileWorkerRuns");
    // How often the host is told of a failed update, and the history says so.
    QTest::addColumn<int>("failures");

    // From firmware the update is under way (state 0): Cancel completes at once, the worker again later.
    QTest::newRow("from firmware, before the worker runs") << false << false << 1;
    QTest::newRow("from firmware, while the worker runs") << false << true << 2;
    // From the bootloader the tool stays idle: the start is dropped, or only the worker completes.
    QTest::newRow("in bootloader, before the scheduled start") << true << false << 1;
    QTest::newRow("in bootloader, while the worker runs") << true << true << 1;
}

void TestTool::cancel()
{
    QFETCH(bool, startsInBootloader);
    QFETCH(bool, whileWorkerRuns);
    QFETCH(int, failures);

    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), Serial, 3);
    SimulatedModule* device = harness.host().device(key);
    if (startsInBootloader)
        device->setMode(SimulatedModule::Mode::Bootloader);
    harness.start();
    chooseFirmware(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy progress(harness.lineEdit("leProgress"), SIGNAL(textChanged(QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QPushButton* cancel = harness.button("btnCancel");
    if (whileWorkerRuns) {
        QObject::connect(harness.host().handler(key), &SimulatedCommandHandler::requestArrived, cancel,
                         [cancel](const Command& request) {
                             if (request.command() == ParameterCommand && request.type() == 0)
                                 QTimer::singleShot(0, cancel, &QPushButton::click);
                         });
    }
    harness.button("btnUpdate")->click();
    QCOMPARE(device->mode(), SimulatedModule::Mode::Bootloader);
    if (!whileWorkerRuns) {
        // Cancel is still disabled here; the slot is what a click would reach. A request made before the
        // worker starts would be lost (a run clears it when it begins): the start is dropped instead.
        QVERIFY(harness.invoke("on_btnCancel_clicked"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(harness.historyText().contains(QStringLiteral("Firmware update canceled.")),
                             UpdateTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);
    // The re-call that would have found the bootloader is dropped: the cancelled update stays ended.
    QTest::qWait(QuietMs);

    QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Canceled by user", "Firmware update canceled."}));
    QCOMPARE(harness.historyText().count(QStringLiteral("Firmware update canceled.")), failures);
    QCOMPARE(harness.historyText().count(QStringLiteral("Firmwareupdate started @")), 1);
    QVERIFY(progress.contains(QVariantList{QStringLiteral("Firmware update canceled.")}));
    QCOMPARE(device->requestCount(SimulatedModule::EnterBootloaderCommand), startsInBootloader ? 0 : 1);
    // The click comes as the first parameter request is answered; the worker may have sent the next
    // one before it sees the cancel, but never gets as far as the erase.
    if (whileWorkerRuns)
        QVERIFY(device->requestCount(ParameterCommand) >= 1);
    else
        QCOMPARE(device->requestCount(ParameterCommand), 0);
    QCOMPARE(device->requestCount(EraseCommand), 0);
    QCOMPARE(device->requestCount(RestartCommand), 0);
    QList<Completion> expected;
    if (!startsInBootloader)
        expected << Completion{key, QStringLiteral("Start fw update")};
    for (int i = 0; i < failures; ++i)
        expected << Completion{QString(), QStringLiteral("false")};
    QCOMPARE(completions(completed), expected);
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QVERIFY(!cancel->isEnabled());
    QVERIFY(harness.button("btnRefresh")->isEnabled());
    QVERIFY(harness.host().connection(key)->isActive());
}

void TestTool::completionKeepsCopyInPool_data()
{
    QTest::addColumn<bool>("successful");
    QTest::addColumn<Pooled>("before");
    QTest::addColumn<Pooled>("after");
    QTest::addColumn<QString>("note");

    QTest::newRow("copied") << true << Pooled::Nothing << Pooled::ChosenFile << "";
    QTest::newRow("not after failure") << false << Pooled::Nothing << Pooled::Nothing << "";
    QTest::newRow("name taken in pool") << true << Pooled::OtherFile << Pooled::OtherFile
                                        << "which differs from " + m_dir.filePath("files/fw.hex")
                                               + "; it was not replaced.";
    // The file is chosen from the pool itself.
    QTest::newRow("file already in pool") << true << Pooled::ChosenFile << Pooled::ChosenFile << "";
    QTest::newRow("pool folder is a file") << true << Pooled::FolderIsFile << Pooled::Nothing
                                           << "No copy of fw.hex was kept in the firmware pool: " + poolPath()
                                                  + " is a file, not a folder.";
    QTest::newRow("no file name after a cancel") << true << Pooled::NoName << Pooled::Nothing << "";
}

void TestTool::completionKeepsCopyInPool()
{
    QFETCH(bool, successful);
    QFETCH(Pooled, before);
    QFETCH(Pooled, after);
    QFETCH(QString, note);

    ToolHarness harness;
    addModule(harness, QStringLiteral("COM3"), Serial, 3);
    harness.start();
    if (before == Pooled::NoName) {
        // Nothing to keep: not even the pool folder is made again.
        QDir(poolPath()).removeRecursively();
        harness.lineEdit("leFilename")->clear();
        QVERIFY(harness.invoke("handleUpdateCompleted", Q_ARG(bool, successful)));
        QVERIFY(!QFileInfo::exists(poolPath()));
        return;
    }
    const QString pooled = QDir(poolPath()).filePath(QStringLiteral("fw.hex"));
    const QByteArray chosen = FirmwareBuilder::firmwareHex(NewIdentifier);
    const QByteArray other = FirmwareBuilder::firmwareHex("1234V099");
    if (before == Pooled::OtherFile)
        FirmwareBuilder::writeFile(pooled, other);
    if (before == Pooled::FolderIsFile)
        QVERIFY(QDir(poolPath()).removeRecursively() && FirmwareBuilder::writeFile(poolPath(), other) == poolPath());
    const QString path = before == Pooled::ChosenFile ? pooled : m_dir.filePath(QStringLiteral("files/fw.hex"));
    FirmwareBuilder::writeFile(path, chosen);
    harness.lineEdit("leFilename")->setText(path);

    QVERIFY(harness.invoke("handleUpdateCompleted", Q_ARG(bool, successful)));
    if (note.isEmpty())
        QVERIFY(!harness.historyText().contains(QStringLiteral("pool")));
    else
        QVERIFY2(harness.historyText().contains(note), qPrintable(harness.historyText()));

    QFile copy(pooled);
    if (after == Pooled::Nothing) {
        QVERIFY(!copy.exists());
        return;
    }
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), after == Pooled::ChosenFile ? chosen : other);
    QCOMPARE(QDir(poolPath()).entryList(QDir::Files), QStringList{QStringLiteral("fw.hex")});
}

void TestTool::failedCompletionWithoutLink_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<bool>("withConnection");
    QTest::addColumn<bool>("linkHandedBack");
    QTest::addColumn<bool>("critical");

    QTest::newRow("serial link without handler") << Serial << true << true << false;
    QTest::newRow("USB link without handler") << Usb << true << false << false;
    QTest::newRow("no connection") << Serial << false << false << true;
}

void TestTool::failedCompletionWithoutLink()
{
    QFETCH(int, linkKind);
    QFETCH(bool, withConnection);
    QFETCH(bool, linkHandedBack);
    QFETCH(bool, critical);

    ToolHarness harness;
    FakeHost::ModuleSetup setup = setupFor(QStringLiteral("COM3"), linkKind);
    setup.withHandler = false;
    setup.withConnection = withConnection;
    const QString key = harness.host().addModule(setup);
    harness.start();
    FakeConnectionPlugin* connection = withConnection ? harness.host().connection(key) : nullptr;
    if (connection)
        connection->setEnabled(false);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    Global::instance(false)->setInternal(true);
    MessageLog log;
    QVERIFY(harness.invoke("handleUpdateCompleted", Q_ARG(bool, false)));
    Global::instance(false)->setInternal(false);

    if (connection) {
        QCOMPARE(connection->isPluginEnabled(), linkHandedBack);
        QCOMPARE(connection->activeCalls(), linkHandedBack ? QList<bool>{true} : QList<bool>());
    }
    QCOMPARE(log.messages(QtCriticalMsg).contains(QStringLiteral("no Connection Plugin")), critical);
    QVERIFY(completed.isEmpty());
    QCOMPARE(harness.listedKeys(), QStringList{key});
}

void TestTool::unattendedNextUpdate_data()
{
    // With the file kept in the selection and one module, a completed update asks for the next module,
    // and a port that is only added starts its update.
    QTest::addColumn<bool>("leaveSelection");
    QTest::addColumn<int>("modules");
    QTest::addColumn<bool>("removeAPort");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("starts");

    QTest::newRow("one module, file kept, port added") << true << 1 << false << true << true;
    QTest::newRow("a port also removed") << true << 1 << true << true << false;
    QTest::newRow("two modules") << true << 2 << false << false << false;
    QTest::newRow("file not kept") << false << 1 << false << false << false;
}

void TestTool::unattendedNextUpdate()
{
    QFETCH(bool, leaveSelection);
    QFETCH(int, modules);
    QFETCH(bool, removeAPort);
    QFETCH(bool, asks);
    QFETCH(bool, starts);

    ToolHarness harness;
    const QString key = harness.host().addModule(setupFor(QStringLiteral("COM3")));
    if (modules > 1)
        harness.host().addModule(setupFor(QStringLiteral("COM4"), Serial, 2, QStringLiteral("N")));
    harness.host().addPort(QStringLiteral("COM7"));
    harness.start();
    chooseFirmware(harness);
    harness.setLeaveSelection(leaveSelection);
    QVERIFY(harness.invoke("handleUpdateCompleted", Q_ARG(bool, true)));
    QCOMPARE(harness.historyText().contains(QStringLiteral("Are you ready?")), asks);

    if (removeAPort)
        harness.host().removePort(QStringLiteral("COM7"));
    harness.host().addPort(QStringLiteral("COM8"));
    harness.host().reportPorts();
    QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), starts ? 1 : 0);
    QCOMPARE(harness.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id1")), starts);
}

QTEST_MAIN(TestTool)
#include "tst_tool.moc"
