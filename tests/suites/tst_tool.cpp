#include "appsettings.h"
#include "command.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "global.h"
#include "linkkindrules.h"
#include "leftstate.h"
#include "modulestatenote.h"
#include "pluginhandler.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "toolharness.h"
#include "toolhome.h"
#include "updatechecks.h"
#include "updateoutcome.h"
#include "updatesession.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QVBoxLayout>
#include <QToolButton>
#include <QtTest>

using namespace UpdateChecks;

namespace {
constexpr int Usb = DUXLConnectionInterface::Usb;
constexpr int Serial = DUXLConnectionInterface::Serial;
constexpr unsigned char EraseCommand = 200;
constexpr unsigned char RestartCommand = 205;
constexpr unsigned char ParameterCommand = 206;
constexpr unsigned char WriteCommand = 201;
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

// The outcome seam's reports of the tool's updates.
QObject* outcomeOf(QObject* tool)
{
    return tool->findChild<UpdateOutcome*>(QStringLiteral("updateOutcome"));
}

UpdateOutcome::Report onlyReport(const QSignalSpy& spy)
{
    return spy.size() == 1 ? spy.first().first().value<UpdateOutcome::Report>() : UpdateOutcome::Report();
}

}

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
    void formFitsWindow_data();
    void formFitsWindow();
    void speaksGerman_data();
    void speaksGerman();

    void wholeUpdate_data();
    void wholeUpdate();
    void wholeUpdateOnUsbLink();
    void cancel_data();
    void cancel();
    void unattendedNextUpdate_data();
    void unattendedNextUpdate();

private:
    // A module of kind 1234 (or `kind`) at `port`, its device set for the test firmware.
    QString addModule(ToolHarness& harness, const QString& port, int linkKind, unsigned char address,
                      unsigned char bootloaderAddress = 1, const QString& kind = QStringLiteral("1234"));
    // Writes firmware with the new identifier and names it in the form, as the user would.
    QString chooseFirmware(ToolHarness& harness);

    ToolHome m_home;
};

void TestTool::initTestCase()
{
    QVERIFY(m_home.setUp("0.02"));
}

void TestTool::init()
{
    m_home.reset();
}

void TestTool::cleanup()
{
    // No worker may outlive a test into the next one's registry count.
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);
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
    const QString path = FirmwareBuilder::writeFile(m_home.filePath(QStringLiteral("files/fw.hex")),
                                                    FirmwareBuilder::firmwareHex(NewIdentifier));
    harness.lineEdit("leFilename")->setText(path);
    return path;
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
    QTest::addColumn<bool>("deviceOpen");

    QTest::newRow("device open") << true;
    QTest::newRow("device closed") << false;
}

void TestTool::selectionReadsFirmwareDirectory()
{
    QFETCH(bool, deviceOpen);

    // What the file identification stores: the file's path, under the module name.
    const QString file = m_home.filePath(QStringLiteral("firmware/fw.hex"));
    AppSettings().setValue(QStringLiteral("Container_FirmwareUpdate/M_Dir"), file);
    ToolHarness harness;
    const QString key = harness.host().addModule(moduleAt(QStringLiteral("COM3/M/id1")));
    if (!deviceOpen)
        harness.host().handler(key)->closeDevice();
    harness.start();

    // The browse entry names where the file dialog starts.
    QMenu* menu = harness.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"))->menu();
    emit menu->aboutToShow();
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("Browse ") + file);
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

void TestTool::formFitsWindow_data()
{
    QTest::addColumn<QSize>("windowSize");
    // The window keeps the size it is given; a form larger than it scrolls.
    QTest::addColumn<QSize>("largestWindow");
    QTest::newRow("320x240") << QSize(320, 240) << QSize(320, 240);
    QTest::newRow("host's size") << QSize(560, 640) << QSize(800, 640);
    QTest::newRow("1600x1200") << QSize(1600, 1200) << QSize(1600, 1200);
}

void TestTool::formFitsWindow()
{
    QFETCH(QSize, windowSize);
    QFETCH(QSize, largestWindow);
    ToolHarness harness;
    harness.host().addModule(setupFor(QStringLiteral("COM3")));
    // As the host places it: alone in the layout of its window.
    auto* layout = new QVBoxLayout(harness.window());
    layout->setContentsMargins(0, 0, 0, 0);
    FirmwareUpdate* tool = harness.start(false);
    layout->addWidget(tool);
    harness.window()->resize(windowSize);
    harness.window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(harness.window()));
    QCoreApplication::processEvents();

    const QRect windowArea = harness.window()->rect();
    QCOMPARE(windowArea.size().boundedTo(largestWindow), windowArea.size());
    QCOMPARE(windowArea.size().expandedTo(windowSize), windowArea.size());
    auto* scroller = tool->findChild<QScrollArea*>(QStringLiteral("formScrollArea"));
    QVERIFY(scroller);
    QWidget* page = scroller->widget();
    // A part that fits the view shows whole once the scroll bars move to it (ensureWidgetVisible aims at a
    // line edit's cursor, not at all of it); a larger one lies on the page, all of which they reach.
    const auto madeVisible = [scroller, page](QWidget* part) {
        const QRect onPage(part->mapTo(page, QPoint()), part->size());
        scroller->horizontalScrollBar()->setValue(onPage.left());
        scroller->verticalScrollBar()->setValue(onPage.top());
        QCoreApplication::processEvents();
        const QRect view = scroller->viewport()->rect();
        const QRect area(part->mapTo(scroller->viewport(), QPoint()), part->size());
        const bool fits = part->width() <= view.width() && part->height() <= view.height();
        const bool pageReached = scroller->horizontalScrollBar()->maximum() >= page->width() - view.width()
            && scroller->verticalScrollBar()->maximum() >= page->height() - view.height();
        return part->isVisible() && (fits ? view.contains(area) : pageReached && page->rect().contains(onPage));
    };
    QList<QWidget*> parts;
    for (const char* name : {"gbModuleInfo", "gbNewFirmware", "gbFirmwareUpload", "lblProgress", "leProgress",
                             "btnUpdate", "pbProcess", "btnCancel", "gbHistory"})
        parts.append(tool->findChild<QWidget*>(QLatin1String(name)));
    for (int i = 0; i < parts.size(); ++i) {
        QWidget* part = parts.at(i);
        QVERIFY2(madeVisible(part), qPrintable(part->objectName()));
        const QRect area(part->mapTo(page, QPoint()), part->size());
        for (int j = i + 1; j < parts.size(); ++j) {
            const QRect other(parts.at(j)->mapTo(page, QPoint()), parts.at(j)->size());
            QVERIFY2(!area.intersects(other), qPrintable(part->objectName() + QLatin1Char(' ') + parts.at(j)->objectName()));
        }
    }
    // Every control can be scrolled into view, at no less than the size it needs to be used.
    for (const char* name : {"cmbModules", "btnRefresh", "leActualFirmware", "leFilename", "btnSelect", "leSize",
                             "leChecksum", "leVersion", "leHexVersion", "leModuleVersion", "teHistory", "btnUpdate",
                             "btnCancel"}) {
        auto* control = tool->findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(madeVisible(control), name);
        QVERIFY2(control->width() >= control->minimumSizeHint().width()
                     && control->height() >= control->minimumSizeHint().height(),
                 name);
    }
}

void TestTool::speaksGerman_data()
{
    // A status by its id (the progress line), the word for no version (leActualFirmware), a link's port
    // name or a module state: its English text and where it is shown.
    QTest::addColumn<ProgressMessage>("message");
    QTest::addColumn<QString>("english");
    // Empty: any German text, not the English one.
    QTest::addColumn<QString>("german");
    QTest::addColumn<QString>("shownIn");

    const QString progress = QStringLiteral("leProgress");
    QTest::newRow("fixed-text") << ProgressMessage(ProgressId::EnteringBootloader) << "Enter bootloader mode..."
                                << "Bootloader-Modus wird aufgerufen..." << progress;
    QTest::newRow("one value") << ProgressMessage(ProgressId::Writing, {"16384"}) << "Writing 16384 bytes..."
                               << "16384 Bytes werden geschrieben..." << progress;
    QTest::newRow("two values") << ProgressMessage(ProgressId::ModuleMatches, {"1234B101", "1234V102"})
                                << "Module (1234B101) and Firmware (1234V102) are matching."
                                << "Modul (1234B101) und Firmware (1234V102) passen zusammen." << progress;
    QTest::newRow("quoted value") << ProgressMessage(ProgressId::UpdateCompleted, {"1234V102"})
                                  << "Update completed. Restarted module with firmware version \"1234V102\"."
                                  << "Aktualisierung abgeschlossen. Modul mit Firmware-Version \"1234V102\" neu gestartet."
                                  << progress;
    // A module's answer is put in as it is, even one that looks like a placeholder.
    QTest::newRow("value-like-a-placeholder") << ProgressMessage(ProgressId::ModuleMismatch, {"%2B101", "1234V102"})
                                              << "Module (%2B101) and Firmware (1234V102) do not match!"
                                              << "Modul (%2B101) und Firmware (1234V102) passen nicht zusammen!" << progress;
    // The German text puts the time to go first: the values follow their placeholders' numbers.
    QTest::newRow("values-in-another-order") << ProgressMessage(ProgressId::ReadBackSoFar, {"4096", "16384", "0", "07"})
                                             << "Read back 4096 of 16384 bytes, 0:07 to go"
                                             << "Noch 0:07 – 4096 von 16384 Bytes zurückgelesen" << progress;
    // The host's guards, said in the tool's words.
    QTest::newRow("only if newer") << ProgressMessage(ProgressId::NotNewer, {"1234V102", "1234V102"})
                                   << "The module's firmware 1234V102 is not older than the file's 1234V102: not written (only if newer)."
                                   << "Die Firmware 1234V102 des Moduls ist nicht älter als die der Datei, 1234V102: nicht geschrieben (nur wenn neuer)."
                                   << progress;
    // Every status the progress line shows has its German text.
    for (int id = 0; id < int(ProgressId::Count); ++id) {
        const ProgressMessage message(ProgressId(id), {"1", "2", "3", "4"});
        QTest::newRow(qPrintable(QStringLiteral("progress-id-%1").arg(id))) << message << message.english() << QString()
                                                                             << progress;
    }
    // A version is the module's own; only the word for none read back is translated.
    QTest::newRow("no version read back") << ProgressMessage() << "Error" << "Fehler" << "leActualFirmware";
    QTest::newRow("version read back") << ProgressMessage() << "1234V102" << "1234V102" << "leActualFirmware";
    QTest::newRow("serial link") << ProgressMessage() << "ttyG0" << "Serielle Verbindung ttyG0" << "link";
    // The tool's own lines in the history: what an update left on the module.
    QTest::newRow("module state") << ProgressMessage() << "write"
                                  << "Modulzustand: im Bootloader ohne Firmware. Wählen Sie die Datei erneut "
                                     "und drücken Sie dann „Aktualisieren“, um die Firmware zu schreiben."
                                  << "note";
    QTest::newRow("module state after the restart")
        << ProgressMessage() << "restart" << "Modulzustand: im Bootloader, die neue Firmware gespeichert. Schalten Sie es aus und wieder ein "
                        "und drücken Sie dann „Neu laden“."
        << "note";
}

void TestTool::speaksGerman()
{
    QFETCH(ProgressMessage, message);
    QFETCH(QString, english);
    QFETCH(QString, german);
    QFETCH(QString, shownIn);

    QTranslator catalogue;
    QVERIFY(catalogue.load(QStringLiteral("dux_de"), QStringLiteral(DUX_TRANSLATION_DIR)));
    if (shownIn == QLatin1String("note")) {
        QCoreApplication::installTranslator(&catalogue);
        // `english` is the phase reached; the module answers from its bootloader.
        const QString note = ModuleStateNote::of(LeftStates::after(english, true, QStringLiteral("1234B101")), QString()).text;
        QCoreApplication::removeTranslator(&catalogue);
        QCOMPARE(note, german);
        return;
    }
    if (shownIn == QLatin1String("link")) {
        QCOMPARE(LinkKindRules::title(Serial, english), QStringLiteral("Serial link ") + english);
        QCoreApplication::installTranslator(&catalogue);
        QCOMPARE(LinkKindRules::title(Serial, english), german);
        QCoreApplication::removeTranslator(&catalogue);
        return;
    }
    QCoreApplication::installTranslator(&catalogue);
    ToolHarness harness;
    harness.start();
    auto* session = harness.tool()->findChild<UpdateSession*>(QStringLiteral("updateSession"));
    if (shownIn == QLatin1String("leProgress")) {
        // The system's own text is the English one, whatever language the user reads.
        QCOMPARE(message.english(), english);
        emit session->progressText(message);
    } else {
        emit session->activeFirmwareShown(english);
    }
    emit session->historyLine(english.toHtmlEscaped());
    QCoreApplication::removeTranslator(&catalogue);
    const QString shown = harness.lineEdit(qPrintable(shownIn))->text();
    if (german.isEmpty())
        QVERIFY2(!shown.isEmpty() && shown != english, qPrintable(english));
    else
        QCOMPARE(shown, german);
    // The history keeps the system's own English texts.
    QVERIFY(harness.historyText().contains(english));
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
    // The update holds the form until it ends.
    for (const char* name : {"btnCancel", "btnUpdate", "btnRefresh"})
        QVERIFY2(!harness.button(name)->isEnabled(), name);
    QVERIFY(!harness.tool()->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->isEnabled());
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
    QCOMPARE(report.firmwareAfter, QLatin1String(NewIdentifier));
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
    QVERIFY(QFile::exists(QDir(m_home.poolPath()).filePath(QStringLiteral("fw.hex"))));
    QVERIFY(QFile::exists(file));
    QCOMPARE(harness.progressBar()->value(), 0);
    QCOMPARE(harness.historyText().count(QStringLiteral("Module state: runs its new firmware. The update is done.")), 1);
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
    QSignalSpy concluded(harness.tool()->findChild<UpdateSession*>(QStringLiteral("updateSession")), SIGNAL(concluded()));

    harness.button("btnUpdate")->click();
    QCOMPARE(harness.lineEdit("leProgress")->text(), QStringLiteral("Disconnecting..."));
    const QString newKey = QStringLiteral("ttyACM2/M/id1");
    QTRY_VERIFY_WITH_TIMEOUT(harness.listedKeys() == QStringList{newKey}, UpdateTimeoutMs);
    // The update ends when the module is back under its new port, not at the worker's report.
    QVERIFY(onlyReport(outcomes).success);
    QCOMPARE(onlyReport(outcomes).firmwareAfter, QLatin1String(NewIdentifier));

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
    // Nothing is reported to the host for a USB link, and the form does not conclude (no "Are you ready?").
    QVERIFY(completed.isEmpty());
    QCOMPARE(concluded.count(), 0);
    // "Error" until the module is back, then the list shows its new firmware.
    QVERIFY(shownVersions.contains(QVariantList{QStringLiteral("Error")}));
    QTRY_COMPARE(harness.lineEdit("leActualFirmware")->text(), QLatin1String(NewIdentifier));
    QVERIFY(QFile::exists(QDir(m_home.poolPath()).filePath(QStringLiteral("fw.hex"))));
    // Done once the module is back, not at the worker's report.
    QCOMPARE(harness.historyText().count(QStringLiteral("Module state: runs its new firmware. The update is done.")), 1);

    QVERIFY(harness.host().connection(newKey)->isActive());
    QVERIFY(harness.host().connection(newKey)->isPluginEnabled());
    QVERIFY(harness.host().module(newKey)->isPluginEnabled());
    QCOMPARE(harness.host().module(QStringLiteral("ttyACM1/M/id1")), nullptr);
}

void TestTool::cancel_data()
{
    QTest::addColumn<bool>("startsInBootloader");
    // Cancel when the worker sends this command (206: the page size, 201: the first word written); 0:
    // right after Update, before the worker runs.
    QTest::addColumn<int>("cancelAt");
    // How often the host is told of a failed update, and the history says so.
    QTest::addColumn<int>("failures");
    // The line that says what the update left on the module (once), and what the host's list shows then.
    QTest::addColumn<QString>("moduleState");
    QTest::addColumn<QString>("listedVersion");

    // It says what the form, which has let the file go, lets the user do.
    const QString notErased = QStringLiteral("Module state: in its bootloader, its firmware not erased yet. Choose the file "
                                             "again, then press Update to try again.");
    // From firmware the update is under way (state 0): Cancel completes at once, the worker again later.
    // Sent to its bootloader already, the module is listed with the bootloader's version it answers.
    QTest::newRow("from firmware, before the worker runs") << false << 0 << 1 << notErased << ModuleBootloader;
    QTest::newRow("from firmware, while the worker runs") << false << 206 << 2 << notErased << ModuleBootloader;
    QTest::newRow("from firmware, while writing")
        << false << 201 << 2
        << QStringLiteral("Module state: in its bootloader with no firmware. Choose the file again, then press Update to "
                          "write the firmware.")
        << ModuleBootloader;
    // From the bootloader the tool stays idle: the start is dropped, or only the worker completes.
    QTest::newRow("in bootloader, before the scheduled start") << true << 0 << 1 << QString() << ModuleFirmware;
    QTest::newRow("in bootloader, while the worker runs") << true << 206 << 1 << notErased << ModuleBootloader;
}

void TestTool::cancel()
{
    QFETCH(bool, startsInBootloader);
    QFETCH(int, cancelAt);
    QFETCH(int, failures);
    QFETCH(QString, moduleState);
    QFETCH(QString, listedVersion);
    const bool whileWorkerRuns = cancelAt != 0;

    ToolHarness harness;
    const QString key = addModule(harness, QStringLiteral("COM3"), Serial, 3);
    harness.host().module(key)->setFirmwareVersion(QLatin1String(ModuleFirmware));
    SimulatedModule* device = harness.host().device(key);
    if (startsInBootloader)
        device->setMode(SimulatedModule::Mode::Bootloader);
    harness.start();
    chooseFirmware(harness);
    QSignalSpy listChanged(harness.host().pluginHandler(), &PluginHandler::modulePluginChanged);
    QSignalSpy completed(harness.tool(), SIGNAL(handleFirmwareCompleted(QString, QString)));
    QSignalSpy progress(harness.lineEdit("leProgress"), SIGNAL(textChanged(QString)));
    QSignalSpy shownVersions(harness.lineEdit("leActualFirmware"), SIGNAL(textChanged(QString)));
    QPushButton* cancel = harness.button("btnCancel");
    if (whileWorkerRuns) {
        QObject::connect(harness.host().handler(key), &SimulatedCommandHandler::requestArrived, cancel,
                         [cancel, cancelAt](const Command& request) {
                             if (request.command() == cancelAt && request.type() == 0 && cancel->isEnabled())
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
    QCOMPARE(device->requestCount(EraseCommand), cancelAt == WriteCommand ? 1 : 0);
    QCOMPARE(device->requestCount(RestartCommand), 0);
    QCOMPARE(harness.historyText().count(QStringLiteral("Module state:")), moduleState.isEmpty() ? 0 : 1);
    QVERIFY2(harness.historyText().contains(moduleState), qPrintable(harness.historyText()));
    // Asked once the worker has ended too, after its own completion: asked at the cancel's, the question
    // would meet the worker's requests on the link.
    QVERIFY2(moduleState.isEmpty()
                 || harness.historyText().lastIndexOf(QStringLiteral("Firmware update canceled."))
                     < harness.historyText().indexOf(QStringLiteral("Module state:")),
             qPrintable(harness.historyText()));
    QCOMPARE(harness.host().module(key)->firmwareVersion(), listedVersion);
    QCOMPARE(listChanged.count(), listedVersion == QLatin1String(ModuleBootloader) ? 1 : 0);
    QVERIFY2(!harness.historyText().contains(QStringLiteral("The update is done.")), qPrintable(harness.historyText()));
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
