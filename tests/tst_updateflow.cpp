#include "appsettings.h"
#include "command.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "global.h"
#include "messagelog.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "toolharness.h"
#include "updateoutcome.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

namespace {
constexpr int Usb = DUXLConnectionInterface::Usb;
constexpr int Serial = DUXLConnectionInterface::Serial;
constexpr unsigned char RestartCommand = 205;
constexpr unsigned char ParameterCommand = 206;
constexpr quint32 FlashBase = FirmwareBuilder::FlashBase;
// The rate the module's link runs at in firmware mode, remembered when the module is chosen.
constexpr int FirmwareRate = 19200;
constexpr const char* NewIdentifier = "1234V102";
constexpr const char* ModuleFirmware = "1234V101";
constexpr const char* ModuleBootloader = "1234B101";
// A whole update at DUX_TIME_SCALE 0.02 takes well under a second; this is the ceiling.
constexpr int UpdateTimeoutMs = 30000;
// The tool's watchdog frees Cancel after 16 s of a stalled start; it runs on unscaled time.
constexpr int WatchdogTimeoutMs = 25000;
// How long a test waits to be sure that a scaled single-shot timer did not fire.
constexpr int QuietMs = 300;

using Completion = QPair<QString, QString>;

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

// What the tool stores about the link of the module at COM3, address 3, while it runs its firmware.
void rememberFirmwareLinkOfCom3()
{
    AppSettings settings;
    settings.beginGroup(QStringLiteral("Container_FirmwareUpdate"));
    settings.setValue(QStringLiteral("COM3_M_Bitrate"), FirmwareRate);
    settings.setValue(QStringLiteral("COM3_M_Bitrate_Id"), 3);
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

class TestUpdateFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startWithoutLinkDoesNothing();
    void firstCallEntersBootloader_data();
    void firstCallEntersBootloader();
    void usbFirstCallWaitsForPortChange();
    void wholeUpdateOnSerialLikeLink_data();
    void wholeUpdateOnSerialLikeLink();
    void silentModuleOnOtherLinkIsUpdatedAtAddressOne();
    void wholeUpdateOnUsbLink();
    void wholeUpdateFromBootloader();
    void failingModule();
    void cancelBeforeWorkerRuns();
    void cancelBeforeScheduledWorkerStart();
    void cancelWhileWorkerRuns_data();
    void cancelWhileWorkerRuns();
    void watchdogFreesCancelOfStalledStart();
    void completionWaitsForRestartedModule();
    void completionKeepsCopyInPool_data();
    void completionKeepsCopyInPool();
    void failedCompletionWithoutLink_data();
    void failedCompletionWithoutLink();
    void completionAsksWhetherReady_data();
    void completionAsksWhetherReady();

private:
    // A module of kind 1234 on `port`, its device linked for the flash base of the test firmware.
    QString addModule(ToolHarness& harness, const QString& port, int linkKind, unsigned char address,
                      unsigned char bootloaderAddress = 1, const QString& kind = QStringLiteral("1234"));
    // Writes firmware with the new identifier and names it in the form, as the user would.
    QString chooseFirmware(ToolHarness& harness, const QString& fileName = QStringLiteral("fw.hex"));
    // The usual subject: a module on a serial link at COM3, address 3, running in `mode` when the tool
    // starts; the new firmware is chosen.
    QString startWithSerialModule(ToolHarness& harness, SimulatedModule::Mode mode = SimulatedModule::Mode::Firmware);
    QString poolPath() const;

    QTemporaryDir m_dir;
};

void TestUpdateFlow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("DUX_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    qputenv("DUX_TIME_SCALE", "0.02");
}

void TestUpdateFlow::init()
{
    AppSettings settings;
    settings.clear();
    settings.sync();
    QFile::remove(poolPath());
    QDir(poolPath()).removeRecursively();
    QDir().mkpath(poolPath());
}

void TestUpdateFlow::cleanup()
{
    // No worker may outlive a test into the next one's registry count.
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);
}

QString TestUpdateFlow::poolPath() const
{
    return QDir::cleanPath(m_dir.filePath(QStringLiteral("Firmware")));
}

QString TestUpdateFlow::addModule(ToolHarness& harness, const QString& port, int linkKind, unsigned char address,
                                  unsigned char bootloaderAddress, const QString& kind)
{
    FakeHost::ModuleSetup setup;
    setup.port = port;
    setup.linkKind = linkKind;
    setup.address = address;
    setup.bootloaderAddress = bootloaderAddress;
    setup.nameInFirmware = kind;
    const QString key = harness.host().addModule(setup);
    SimulatedModule* device = harness.host().device(key);
    device->setFlashBase(FlashBase);
    device->setFirmwareVersion(QLatin1String(ModuleFirmware));
    device->setBootloaderVersion(QLatin1String(ModuleBootloader));
    harness.host().handler(key)->setDataRate(FirmwareRate);
    return key;
}

QString TestUpdateFlow::chooseFirmware(ToolHarness& harness, const QString& fileName)
{
    const QString path = FirmwareBuilder::writeFile(m_dir.filePath(QStringLiteral("files/") + fileName),
                                                        FirmwareBuilder::firmwareHex(NewIdentifier));
    harness.lineEdit("leFilename")->setText(path);
    return path;
}

QString TestUpdateFlow::startWithSerialModule(ToolHarness& harness, SimulatedModule::Mode mode)
{
    const QString key = addModule(harness, QStringLiteral("COM3"), Serial, 3);
    harness.host().device(key)->setMode(mode);
    harness.start();
    chooseFirmware(harness);
    return key;
}

void TestUpdateFlow::startWithoutLinkDoesNothing()
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

void TestUpdateFlow::firstCallEntersBootloader_data()
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
    QTest::newRow("kind 8") << 8 << "2804" << QList<int>{1000} << false << Chosen::Firmware << v101 << "";
    QTest::newRow("unknown kind") << 7 << "1234" << QList<int>() << true << Chosen::Firmware << v101 << "";
    QTest::newRow("cut-short file") << Serial << "1234" << QList<int>() << false << Chosen::CutShort << v101
                                    << "fw.hex is cut short: reading ended at malformed line 66; it is not written.";
    QTest::newRow("no program") << Serial << "1234" << QList<int>() << false << Chosen::NotHex << v101
                                << "No firmware loaded: choose a HEX file first.";
    QTest::newRow("another module type") << Serial << "1234" << QList<int>() << false << Chosen::OtherType << v101
                                         << "Module (1234V101) and Firmware (4321V102) do not match!";
    // Markup from a module stays text; control characters are dropped.
    QTest::newRow("another type, version with markup")
        << Serial << "1234" << QList<int>() << false << Chosen::OtherType << "1234V101<i>x</i><!--\x1b[2J"
        << "Module (1234V101<i>x</i><!--[2J) and Firmware (4321V102) do not match!";
}

void TestUpdateFlow::firstCallEntersBootloader()
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

void TestUpdateFlow::usbFirstCallWaitsForPortChange()
{
    ToolHarness harness;
    harness.host().setReenumerationDelays(-1, 0);
    const QString key = addModule(harness, QStringLiteral("ttyACM0"), Usb, 1);
    harness.start();
    chooseFirmware(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    harness.button("btnUpdate")->click();
    QCOMPARE(harness.lineEdit("leProgress")->text(), QStringLiteral("Disconnecting..."));
    QVERIFY_IN_ORDER(harness.historyText(),
                     (QStringList{"Enter bootloader mode...", "Disconnecting..."}));
    QVERIFY(!harness.historyText().contains(QStringLiteral("Reopen device...")));
    QCOMPARE(harness.host().device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
    QVERIFY(completed.isEmpty());
    QVERIFY(harness.host().module(key)->moduleStates().isEmpty());

    // Nothing calls the update again until the port changes.
    const int queries = harness.host().device(key)->versionQueryCount();
    QTest::qWait(QuietMs);
    QCOMPARE(harness.host().device(key)->versionQueryCount(), queries);
}

void TestUpdateFlow::wholeUpdateOnSerialLikeLink_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("bootloaderAddress");
    QTest::addColumn<QList<int>>("rates");
    // A port appears (an unrelated USB device) while the image is written.
    QTest::addColumn<bool>("portAppears");

    // A serial bootloader answers at address 1; on the other links the module keeps its address.
    QTest::newRow("serial") << Serial << "1234" << 1 << QList<int>{115200, FirmwareRate} << false;
    QTest::newRow("serial, high-rate module") << Serial << "3906" << 1 << QList<int>{111111, FirmwareRate} << false;
    QTest::newRow("kind 3") << 3 << "1234" << 3 << QList<int>{1000, FirmwareRate} << false;
    QTest::newRow("serial, a port appears") << Serial << "1234" << 1 << QList<int>{115200, FirmwareRate} << true;
}

void TestUpdateFlow::wholeUpdateOnSerialLikeLink()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(int, bootloaderAddress);
    QFETCH(QList<int>, rates);
    QFETCH(bool, portAppears);

    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), linkKind, 3, quint8(bootloaderAddress), kind);
    harness.start();
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(ModuleFirmware));
    if (portAppears) {
        QObject::connect(harness.lineEdit("leProgress"), &QLineEdit::textChanged, harness.tool(),
                         [&harness](const QString& text) {
                             if (!text.startsWith(QStringLiteral("Erasing")))
                                 return;
                             harness.host().addPort(QStringLiteral("ttyUSB7"));
                             harness.host().reportPorts();
                         });
    }
    const QString file = chooseFirmware(harness);
    QCOMPARE(harness.lineEdit("leHexVersion")->text(), QLatin1String(NewIdentifier));
    SimulatedCommandHandler* handler = harness.host().handler(key);
    SimulatedModule* device = harness.host().device(key);
    const int ratesBefore = handler->requestedDataRates().size();
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QSignalSpy outcomes(outcomeOf(harness.tool()), SIGNAL(finished(UpdateOutcome::Report)));

    harness.button("btnUpdate")->click();
    QCOMPARE(device->mode(), SimulatedModule::Mode::Bootloader);
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() == 2, UpdateTimeoutMs);
    const UpdateOutcome::Report report = onlyReport(outcomes);
    QVERIFY(report.success);
    QCOMPARE(report.phase, QStringLiteral("reconnect"));
    QCOMPARE(report.firmwareVersion, QLatin1String(NewIdentifier));
    QCOMPARE(report.moduleKey, key);

    QCOMPARE(completions(completed), (QList<Completion>{{key, QStringLiteral("Start fw update")},
                                                        {key, QStringLiteral("true")}}));
    QCOMPARE(device->mode(), SimulatedModule::Mode::Firmware);
    QCOMPARE(device->firmwareVersion(), QLatin1String(NewIdentifier));
    QCOMPARE(device->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
    QCOMPARE(device->requestCount(RestartCommand), 1);
    QVERIFY(device->hasStoredChecksum());
    QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
    QVERIFY_IN_ORDER(harness.historyText(),
                     (QStringList{"Firmwareupdate started @COM3/M/id3", "Active firmware: (1234V101)",
                                  "Enter bootloader mode...", "Reopen device...",
                                  // the call 5 s later finds the bootloader and starts the worker
                                  "Active firmware: (1234B101)", "Try to read bootloader version",
                                  "Bootloader: 1234B101", "Erasing...", "suit each other.", "Restarting module...",
                                  "to ready mode", "to firmware mode",
                                  "Restarted module with firmware version \"1234V102\".", "Update completed."}));
    QVERIFY(!harness.historyText().contains(QStringLiteral("Error")));
    QCOMPARE(harness.historyText().contains(
                 QStringLiteral("Port ttyUSB7 appeared during the update and is ignored: only a module on a USB link "
                                "comes back under a new port; the update stays on COM3.")),
             portAppears);

    // The result is shown, the module and its link are the host's again, the list is rebuilt (which
    // selects the module again and clears the file fields).
    QVERIFY(shownVersions.contains(QVariantList{QLatin1String(NewIdentifier)}));
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
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

void TestUpdateFlow::silentModuleOnOtherLinkIsUpdatedAtAddressOne()
{
    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), 3, 3);
    // The firmware does not answer the version query (at the selection and at the update start).
    harness.host().device(key)->setFailure(SimulatedModule::FailureMode::NoReply, SimulatedModule::VersionQuery, 1,
                                           2);
    rememberFirmwareLinkOfCom3();
    harness.start();
    chooseFirmware(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    harness.button("btnUpdate")->click();
    QVERIFY(harness.historyText().contains(QStringLiteral("Active firmware: ()")));
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() == 2, UpdateTimeoutMs);

    QCOMPARE(completions(completed).last(), (Completion{key, QStringLiteral("true")}));
    // An empty version sent the worker to the bootloader's address at once.
    QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Active firmware: (1234B101)",
                                                         "Try to read bootloader version at id 1... (1)",
                                                         "Bootloader: 1234B101"}));
}

void TestUpdateFlow::wholeUpdateOnUsbLink()
{
    ToolHarness harness;
    // The module leaves its port 100 ms after each switch (after the worker has finished with it); the
    // host knows it again at once.
    harness.host().setReenumerationDelays(100, 0);
    const QString key = addModule(harness, QStringLiteral("ttyACM0"), Usb, 1);
    harness.start();
    chooseFirmware(harness);
    SimulatedModule* device = harness.host().device(key);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QSignalSpy outcomes(outcomeOf(harness.tool()), SIGNAL(finished(UpdateOutcome::Report)));

    harness.button("btnUpdate")->click();
    QCOMPARE(harness.lineEdit("leProgress")->text(), QStringLiteral("Disconnecting..."));
    QTRY_VERIFY_WITH_TIMEOUT(harness.listedKeys() == QStringList{QStringLiteral("ttyACM2/M/id1")}, UpdateTimeoutMs);
    // The update ends when the module is back under its new port, not at the worker's report.
    QVERIFY(onlyReport(outcomes).success);
    QCOMPARE(onlyReport(outcomes).firmwareVersion, QLatin1String(NewIdentifier));

    QCOMPARE(device->firmwareVersion(), QLatin1String(NewIdentifier));
    QCOMPARE(device->requestCount(RestartCommand), 1);
    QVERIFY_IN_ORDER(harness.historyText(),
                     (QStringList{"Firmwareupdate started @ttyACM0/M/id1", "Enter bootloader mode...",
                                  "Disconnecting...", "COM-Port has changed from ttyACM0 to ttyACM1",
                                  "Active firmware: (1234B101)", "Reconnected.", "Bootloader: 1234B101",
                                  "Restarting module...", "ttyACM1/M/id1 Waiting...", "Update completed.",
                                  "COM-Port has changed from ttyACM1 to ttyACM2", "Active firmware: (1234V102)",
                                  "Reconnected."}));
    QCOMPARE(harness.historyText().count(QStringLiteral("Reconnected.")), 2);
    // Nothing is reported to the host for a USB link.
    QVERIFY(completed.isEmpty());
    // "Error" until the module is back, then the list shows its new firmware.
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QTRY_COMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
    QVERIFY(QFile::exists(QDir(poolPath()).filePath(QStringLiteral("fw.hex"))));

    const QString newKey = QStringLiteral("ttyACM2/M/id1");
    QVERIFY(harness.host().connection(newKey)->isActive());
    QVERIFY(harness.host().connection(newKey)->isPluginEnabled());
    QVERIFY(harness.host().module(newKey)->isPluginEnabled());
    QCOMPARE(harness.host().module(QStringLiteral("ttyACM1/M/id1")), nullptr);

    // Idle again: a new port is no longer taken for the module's.
    const QString before = harness.historyText();
    harness.host().addPort(QStringLiteral("ttyACM7"));
    harness.host().reportPorts();
    QTest::qWait(QuietMs);
    QCOMPARE(harness.historyText(), before);
}

void TestUpdateFlow::wholeUpdateFromBootloader()
{
    // The link was remembered when the module last ran its firmware.
    rememberFirmwareLinkOfCom3();
    ToolHarness harness;
    const QString key = startWithSerialModule(harness, SimulatedModule::Mode::Bootloader);
    SimulatedModule* device = harness.host().device(key);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    harness.button("btnUpdate")->click();
    // The module does not answer at its own address: the bootloader does at address 1.
    QVERIFY(harness.historyText().contains(QStringLiteral("Active firmware: (1234B101)")));
    QCOMPARE(harness.progressBar()->maximum(), 0);
    QVERIFY(harness.modules()->signalsBlocked());
    QTRY_VERIFY_WITH_TIMEOUT(!completed.isEmpty(), UpdateTimeoutMs);

    QCOMPARE(completions(completed), (QList<Completion>{{key, QStringLiteral("true")}}));
    QCOMPARE(device->requestCount(SimulatedModule::EnterBootloaderCommand), 0);
    QVERIFY(harness.host().module(key)->moduleStates().isEmpty());
    QVERIFY(!harness.historyText().contains(QStringLiteral("Enter bootloader mode...")));
    QCOMPARE(device->firmwareVersion(), QLatin1String(NewIdentifier));
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
}

void TestUpdateFlow::failingModule()
{
    ToolHarness harness;
    const QString key = startWithSerialModule(harness);
    harness.host().device(key)->setFailure(SimulatedModule::FailureMode::WrongChecksum);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QSignalSpy outcomes(outcomeOf(harness.tool()), SIGNAL(finished(UpdateOutcome::Report)));

    harness.button("btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() == 2, UpdateTimeoutMs);

    QCOMPARE(completions(completed).last(), (Completion{QString(), QStringLiteral("false")}));
    const UpdateOutcome::Report report = onlyReport(outcomes);
    QVERIFY(!report.success);
    QCOMPARE(report.phase, QStringLiteral("verify"));
    QVERIFY(report.failureText.endsWith(QStringLiteral("do not match!")));
    QVERIFY(report.bytesWritten > 0);
    QVERIFY(report.firmwareVersion.isEmpty());
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Verifying checksum", "do not match!"}));
    QVERIFY(!harness.historyText().contains(QStringLiteral("canceled")));
    QCOMPARE(harness.host().device(key)->requestCount(RestartCommand), 0);
    QVERIFY(harness.host().connection(key)->isActive());
    QVERIFY(harness.host().module(key)->isPluginEnabled());
    QVERIFY(harness.button("btnRefresh")->isEnabled());
    QVERIFY(!harness.modules()->signalsBlocked());
    QCOMPARE(harness.listedKeys(), QStringList{key});
    QVERIFY(!QFile::exists(QDir(poolPath()).filePath(QStringLiteral("fw.hex"))));
}

void TestUpdateFlow::cancelBeforeWorkerRuns()
{
    ToolHarness harness;
    const QString key = startWithSerialModule(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy progress(harness.lineEdit("leProgress"), SIGNAL(textChanged(QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    harness.button("btnUpdate")->click();
    QCOMPARE(harness.host().device(key)->mode(), SimulatedModule::Mode::Bootloader);

    // Cancel is still disabled here; the slot is what a click would reach.
    QVERIFY(harness.invoke("on_btnCancel_clicked"));

    QVERIFY_IN_ORDER(harness.historyText(),
                     (QStringList{"Reopen device...", "Canceled by user", "Firmware update canceled."}));
    // crimson
    QVERIFY(harness.history()->toHtml().contains(QStringLiteral("color:#dc143c;")));
    QVERIFY(progress.contains(QVariantList{QStringLiteral("Firmware update canceled.")}));
    QCOMPARE(completions(completed), (QList<Completion>{{key, QStringLiteral("Start fw update")},
                                                        {QString(), QStringLiteral("false")}}));
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QVERIFY(!harness.button("btnCancel")->isEnabled());
    QVERIFY(harness.button("btnRefresh")->isEnabled());
    QVERIFY(harness.host().connection(key)->isActive());
    QVERIFY(!workerRunning());

    // The re-call that would have found the bootloader is dropped: the cancelled update stays ended.
    QTest::qWait(QuietMs);
    QCOMPARE(completed.count(), 2);
    QCOMPARE(harness.historyText().count(QStringLiteral("Firmwareupdate started @")), 1);
    QCOMPARE(harness.host().device(key)->requestCount(ParameterCommand), 0);
    QVERIFY(!workerRunning());
}

void TestUpdateFlow::cancelBeforeScheduledWorkerStart()
{
    ToolHarness harness;
    const QString key = startWithSerialModule(harness, SimulatedModule::Mode::Bootloader);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    harness.button("btnUpdate")->click();
    QVERIFY(harness.historyText().contains(QStringLiteral("Active firmware: (1234B101)")));

    // Between the click and the worker's start the request would be lost (a run clears it when it
    // begins): the start is dropped and the update ends here, once.
    QVERIFY(harness.invoke("on_btnCancel_clicked"));
    QVERIFY(harness.historyText().contains(QStringLiteral("Firmware update canceled.")));
    QTest::qWait(QuietMs);
    QVERIFY(!workerRunning());
    QCOMPARE(harness.host().device(key)->requestCount(ParameterCommand), 0);
    QCOMPARE(harness.historyText().count(QStringLiteral("Firmware update canceled.")), 1);
    QCOMPARE(completions(completed), (QList<Completion>{{QString(), QStringLiteral("false")}}));
    QVERIFY(harness.button("btnRefresh")->isEnabled());
}

void TestUpdateFlow::cancelWhileWorkerRuns_data()
{
    QTest::addColumn<bool>("startInBootloader");
    QTest::addColumn<int>("failures");

    // From firmware the update is under way (state 0): Cancel completes at once, the worker again later.
    QTest::newRow("started from firmware") << false << 2;
    // From the bootloader the tool stays idle: only the worker completes.
    QTest::newRow("started in bootloader") << true << 1;
}

void TestUpdateFlow::cancelWhileWorkerRuns()
{
    QFETCH(bool, startInBootloader);
    QFETCH(int, failures);

    ToolHarness harness;
    const QString key = startWithSerialModule(
        harness, startInBootloader ? SimulatedModule::Mode::Bootloader : SimulatedModule::Mode::Firmware);
    SimulatedModule* device = harness.host().device(key);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    // The user clicks Cancel right after the worker asked for the page size.
    QPushButton* cancel = harness.button("btnCancel");
    QObject::connect(harness.host().handler(key), &SimulatedCommandHandler::requestArrived, cancel,
                     [cancel](const Command& request) {
                         if (request.command() == ParameterCommand && request.type() == 0)
                             QTimer::singleShot(0, cancel, &QPushButton::click);
                     });
    harness.button("btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(harness.historyText().contains(QStringLiteral("Canceled by user")), UpdateTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);

    QVERIFY(harness.historyText().contains(QStringLiteral("Firmware update canceled.")));
    QCOMPARE(device->requestCount(SimulatedModule::EnterBootloaderCommand), startInBootloader ? 0 : 1);
    QCOMPARE(device->requestCount(RestartCommand), 0);
    QCOMPARE(device->requestCount(200), 0);
    QCOMPARE(completions(completed).count(Completion{QString(), QStringLiteral("false")}), failures);
    QVERIFY(!cancel->isEnabled());
    QVERIFY(harness.button("btnRefresh")->isEnabled());
}

void TestUpdateFlow::watchdogFreesCancelOfStalledStart()
{
    ToolHarness harness;
    const QString key = startWithSerialModule(harness);
    // The firmware ignores the bootloader-entry command: the module never reaches its bootloader.
    harness.host().device(key)->setFailure(SimulatedModule::FailureMode::NoReply,
                                           SimulatedModule::EnterBootloaderCommand);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    harness.button("btnUpdate")->click();

    // The second call (5 s, scaled) finds the firmware still running and leaves the update waiting.
    QTRY_VERIFY(harness.historyText().count(QStringLiteral("Active firmware: (1234V101)")) == 2);
    QVERIFY(!harness.button("btnCancel")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(harness.button("btnCancel")->isEnabled(), WatchdogTimeoutMs);
    QVERIFY(harness.historyText().contains(QStringLiteral("An error has occurred")));
    QVERIFY(!harness.historyText().contains(QStringLiteral("Try to read bootloader version")));
    QVERIFY(!workerRunning());

    harness.button("btnCancel")->click();
    QCOMPARE(completions(completed).last(), (Completion{QString(), QStringLiteral("false")}));
    QVERIFY(harness.historyText().contains(QStringLiteral("Firmware update canceled.")));
    QVERIFY(harness.button("btnRefresh")->isEnabled());
}

void TestUpdateFlow::completionWaitsForRestartedModule()
{
    ToolHarness harness;
    const QString key = startWithSerialModule(harness);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));

    // The host rediscovers its devices after the restart and knows the module again 200 ms later.
    constexpr int RediscoveryMs = 200;
    QObject::connect(harness.lineEdit("leProgress"), &QLineEdit::textChanged, harness.tool(),
                     [&harness, key](const QString& text) {
                         if (!text.startsWith(QStringLiteral("Update completed.")))
                             return;
                         harness.host().withdrawModule(key);
                         QTimer::singleShot(RediscoveryMs, harness.tool(),
                                            [&harness, key] { harness.host().restoreModule(key); });
                     });
    harness.button("btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() == 2, UpdateTimeoutMs);

    QCOMPARE(completions(completed).last(), (Completion{key, QStringLiteral("true")}));
    // One star every 300 ms (scaled to 6 ms) while the module was unknown.
    QVERIFY2(harness.historyText().count(QLatin1Char('*')) >= 3, qPrintable(harness.historyText()));
    QVERIFY_IN_ORDER(harness.historyText(), (QStringList{"Update completed.", "***"}));
    QCOMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
    QCOMPARE(harness.listedKeys(), QStringList{key});
    QVERIFY(QFile::exists(QDir(poolPath()).filePath(QStringLiteral("fw.hex"))));
}

void TestUpdateFlow::completionKeepsCopyInPool_data()
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

void TestUpdateFlow::completionKeepsCopyInPool()
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

void TestUpdateFlow::failedCompletionWithoutLink_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<bool>("withConnection");
    QTest::addColumn<bool>("linkHandedBack");
    QTest::addColumn<bool>("critical");

    QTest::newRow("serial link without handler") << Serial << true << true << false;
    QTest::newRow("USB link without handler") << Usb << true << false << false;
    QTest::newRow("no connection") << Serial << false << false << true;
}

void TestUpdateFlow::failedCompletionWithoutLink()
{
    QFETCH(int, linkKind);
    QFETCH(bool, withConnection);
    QFETCH(bool, linkHandedBack);
    QFETCH(bool, critical);

    ToolHarness harness;
    FakeHost::ModuleSetup setup;
    setup.linkKind = linkKind;
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
    QCOMPARE(log.messages(QtCriticalMsg).contains(QStringLiteral("no Connection Plugin")),
             critical);
    QVERIFY(completed.isEmpty());
    QVERIFY(log.messages().contains(
        QStringLiteral("FirmwareUpdate::handleUpdateCompleted() successfull: false actualModuleKey: \"%1\"").arg(key)));
    QVERIFY(log.contains(QStringLiteral("FirmwareUpdate::handleUpdateCompleted() Elapsed: ")));
    QCOMPARE(harness.listedKeys(), QStringList{key});
}

void TestUpdateFlow::completionAsksWhetherReady_data()
{
    QTest::addColumn<bool>("leaveSelection");
    QTest::addColumn<int>("modules");
    QTest::addColumn<bool>("asks");

    QTest::newRow("file kept, one module") << true << 1 << true;
    QTest::newRow("file kept, two modules") << true << 2 << false;
    QTest::newRow("file not kept") << false << 1 << false;
}

void TestUpdateFlow::completionAsksWhetherReady()
{
    QFETCH(bool, leaveSelection);
    QFETCH(int, modules);
    QFETCH(bool, asks);

    ToolHarness harness;
    addModule(harness, QStringLiteral("COM3"), Serial, 3);
    if (modules > 1)
        addModule(harness, QStringLiteral("COM4"), Serial, 4);
    harness.start();
    harness.setLeaveSelection(leaveSelection);

    QVERIFY(harness.invoke("handleUpdateCompleted", Q_ARG(bool, true)));
    QCOMPARE(harness.historyText().contains(QStringLiteral("Are you ready?")), asks);
    // lime
    QCOMPARE(harness.history()->toHtml().contains(QStringLiteral("color:#00ff00;")), asks);
}

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
