#include "containerinterface.h"
#include "fakehost.h"
#include "firmwareupdate.h"
#include "firmwareupdaterthread.h"
#include "doctor.h"
#include "hostwindow.h"
#include "installlayout.h"
#include "modulekey.h"
#include "recordkeeper.h"
#include "firmwarebuilder.h"
#include "firmwarefilecheck.h"
#include "peripherymanager.h"
#include "portlistfile.h"
#include "runoptions.h"
#include "runrecorder.h"
#include "runteller.h"
#include "recordstore.h"
#include "simflash.h"
#include "station.h"
#include "stationtile.h"
#include "stationview.h"
#include "timescale.h"
#include "updaterun.h"
#include "modulediscovery.h"
#include "moduleupdate.h"
#include "pluginhandler.h"
#include "wirecapture.h"
#include "updateoutcome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QMenu>
#include <QPluginLoader>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

FakeHost::ModuleSetup moduleOn(const QString& port, const QString& version = QString())
{
    FakeHost::ModuleSetup setup;
    setup.port = port;
    setup.firmwareVersion = version;
    return setup;
}

// How often a station test looks at the port lists: modules are plugged in and taken out.
constexpr int PortPollMs = 100;
// The smallest window the user can make of the host's: the form at its minimum size.
constexpr int SmallWindowSide = 420;
// An update against dux-sim, unscaled (the entry waits 5 s), ends well within this.
constexpr int UpdateWindowTimeoutMs = 60000;
// After an ended update's worker has left, its instance is deleted within this.
constexpr int InstanceGoneMs = 500;
// QLineEdit keeps this many pixels free on either side of its text.
constexpr int LineEditTextMargin = 2;

// Notes when a window is first hidden: a dialog hides itself first as it is deleted.
class HideWatch : public QObject
{
public:
    HideWatch(QWidget* window, const QElapsedTimer& clock, qint64* hiddenAtMs)
        : QObject(window), m_clock(clock), m_hiddenAtMs(hiddenAtMs)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && *m_hiddenAtMs < 0)
            *m_hiddenAtMs = m_clock.elapsed();
        return false;
    }

private:
    const QElapsedTimer& m_clock;
    qint64* m_hiddenAtMs;
};

// The plug-in in the host's own window, as dux-host shows it; the window owns the plug-in.
struct HostedPlugin
{
    PluginHandler handler;
    ModuleDiscovery discovery{&handler};
    FirmwareUpdate* plugin = new FirmwareUpdate;
    HostWindow host{&handler, &discovery, {plugin}};
    QDialog* window = host.openContainer(plugin);
};

// True when the line edit's text fits in its text area, so that none of it is scrolled out of sight.
bool showsWholeText(QLineEdit* field)
{
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
    option.state |= QStyle::State_Sunken;
    const QRect area = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    const QMargins margins = field->textMargins();
    const int room = area.width() - margins.left() - margins.right() - 2 * LineEditTextMargin;
    return field->fontMetrics().horizontalAdvance(field->text()) <= room;
}

QString pluginFilePath()
{
    return QDir(QStringLiteral(DUX_PLUGIN_DIR)).absoluteFilePath(QStringLiteral("libfirmwareupdate.so"));
}

}

class TestPluginShell : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loadsThroughPluginLoader();
    void initBuildsFormOnce();
    void displayFieldsShowTheirWidestValue_data();
    void displayFieldsShowTheirWidestValue();
    void enterInFileNamePressesNoButton();
    void hostWindowShowsVersionsAndFirstStep();
    void hostWindowChecksTheComputer();
    void hostWindowTellsContainersIfChanged_data();
    void hostWindowTellsContainersIfChanged();
    void hostWindowCapturesTheWire_data();
    void hostWindowCapturesTheWire();
    void hostWindowOpensStation_data();
    void hostWindowOpensStation();
    void finishedDetachesAndNextInitReloadsOnce();
    void updateWindowAfterTheUpdate_data();
    void updateWindowAfterTheUpdate();
    void station_data();
    void station();
    void stationUsbModules();
    void stationTileSpeaksGerman_data();
    void stationTileSpeaksGerman();

private:
    QTemporaryDir m_home;
};

namespace {
// The methods a class declares itself, in the meta-object's order.
QStringList ownMethods(const QMetaObject& object)
{
    QStringList signatures;
    for (int i = object.methodOffset(); i < object.methodCount(); ++i)
        signatures << QString::fromLatin1(object.method(i).methodSignature());
    return signatures;
}
}

void TestPluginShell::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("DUX_HOME", m_home.path().toLocal8Bit());
    QVERIFY2(QFileInfo::exists(pluginFilePath()), qPrintable(pluginFilePath()));
}

void TestPluginShell::loadsThroughPluginLoader()
{
    QPluginLoader loader(pluginFilePath());
    QCOMPARE(loader.metaData().value(QStringLiteral("IID")).toString(),
             QStringLiteral("com.dux.ContainerInterface/2.0"));
    QCOMPARE(loader.metaData().value(QStringLiteral("className")).toString(), QStringLiteral("FirmwareUpdate"));
    QObject* instance = loader.instance();
    QVERIFY2(instance, qPrintable(loader.errorString()));
    QCOMPARE(loader.instance(), instance);
    auto* container = qobject_cast<ContainerInterface*>(instance);
    QVERIFY(container);
    QCOMPARE(container->key(), QStringLiteral("undefined"));
    QCOMPARE(container->name(), QStringLiteral("Firmware Update"));
    QCOMPARE(container->versionInfo(),
             QStringLiteral("4.6.0 - vamberplug;Plugin-Interface.4.6.0.vamberplug;Plugin ;Plugin.Interface."));
    QVERIFY(!instance->property("dpShowOnToolbar").isValid());

    PluginHandler handler;
    QScopedPointer<PluginInterface> made(container->createInstance(QStringLiteral("k"), &handler));
    QVERIFY(made);
    QCOMPARE(made->metaObject()->className(), "FirmwareUpdate");
    // Hosts and scripts reach the widget and its worker by these methods and their indexes.
    const QStringList widgetMethods = ownMethods(*made->metaObject());
    QCOMPARE(widgetMethods.size(), 29);
    QCOMPARE(widgetMethods.first(), QStringLiteral("handleFirmwareCompleted(QString,QString)"));
    QCOMPARE(widgetMethods.at(5), QStringLiteral("handleUpdateCompleted(bool)"));
    QCOMPARE(widgetMethods.last(), QStringLiteral("dragMoveEvent(QDragMoveEvent*)"));
    QCOMPARE(ownMethods(FirmwareUpdaterThread::staticMetaObject),
             (QStringList{"doDirectRequest(Command*,Command*)", "doDirectRequestWithoutReply(Command*)",
                          "handleProgressMessage(QString)", "handleDebugMessage(QString)",
                          "handleProgressBarValue(int)", "handleProgressBarMaximum(int)",
                          "handleUpdateCompleted(bool)", "handleModuleVersion(QString)", "handleCloseDevice()",
                          "handleReopenDevice(int)", "handleGetFirmwareVersion(QString*,int)"}));
    QCOMPARE(made->key(), QStringLiteral("k"));
    QCOMPARE(made->property("dpShowOnToolbar"), QVariant(true));
    QCOMPARE(static_cast<ContainerInterface*>(made.data())->pluginHandler(), &handler);
}

void TestPluginShell::initBuildsFormOnce()
{
    QDialog window;
    auto* plugin = new FirmwareUpdate;
    plugin->setParent(&window);
    plugin->init(&window);

    auto* select = plugin->findChild<QToolButton*>(QStringLiteral("btnSelect"));
    QVERIFY(select && select->menu());
    QVERIFY(plugin->acceptDrops());
    plugin->init(&window);
    QCOMPARE(plugin->findChildren<QGroupBox*>(QStringLiteral("gbNewFirmware")).size(), 1);
    QCOMPARE(plugin->findChildren<QMenu*>().size(), 1);
    QCOMPARE(select->menu()->actions().size(), 2);
}

void TestPluginShell::displayFieldsShowTheirWidestValue_data()
{
    QTest::addColumn<QString>("name");
    // The widest value the field shows, which the host's window at its smallest must show whole.
    QTest::addColumn<QString>("widestValue");
    QTest::newRow("actual firmware") << "leActualFirmware" << "1234V101";
    QTest::newRow("size") << "leSize" << "262144";
    QTest::newRow("checksum") << "leChecksum" << "0x3fc0d08e";
    QTest::newRow("version") << "leVersion" << "1234V200";
    QTest::newRow("hex version") << "leHexVersion" << "1234V200";
    QTest::newRow("module version") << "leModuleVersion" << "1234B101";
}

void TestPluginShell::displayFieldsShowTheirWidestValue()
{
    QFETCH(QString, name);
    QFETCH(QString, widestValue);
    HostedPlugin hosted;
    auto* field = hosted.plugin->findChild<QLineEdit*>(name);
    QVERIFY(field);
    // The window opens no larger than the screen (offscreen's is 800x600); the form scrolls in it.
    QCOMPARE(hosted.window->size().boundedTo(hosted.window->screen()->availableSize()), hosted.window->size());

    field->setText(widestValue);
    hosted.window->resize(SmallWindowSide, SmallWindowSide);
    QCoreApplication::sendPostedEvents();
    QVERIFY2(showsWholeText(field),
             qPrintable(QStringLiteral("%1 in %2 px: %3").arg(field->text()).arg(field->width()).arg(name)));
}

void TestPluginShell::enterInFileNamePressesNoButton()
{
    HostedPlugin hosted;
    const QList<QPushButton*> buttons = hosted.window->findChildren<QPushButton*>();
    QVERIFY(!buttons.isEmpty());
    QList<std::shared_ptr<QSignalSpy>> clicks;
    for (QPushButton* button : buttons)
        clicks.append(std::make_shared<QSignalSpy>(button, &QPushButton::clicked));
    // As the choice of a module does, so that the name can be typed.
    hosted.plugin->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"))->setEnabled(true);
    auto* fileName = hosted.plugin->findChild<QLineEdit*>(QStringLiteral("leFilename"));
    const QString typed = QStringLiteral("/tmp/typed-name.hex");
    QTest::keyClicks(fileName, typed);
    // The dialog takes Return and the keypad's Enter alike.
    QTest::keyClick(fileName, Qt::Key_Enter);
    QCOMPARE(fileName->text(), typed);
    for (int i = 0; i < buttons.size(); ++i)
        QVERIFY2(clicks.at(i)->isEmpty(), qPrintable(buttons.at(i)->objectName()));
}

void TestPluginShell::hostWindowShowsVersionsAndFirstStep()
{
    FakeHost fakeHost;
    ModuleDiscovery discovery(fakeHost.pluginHandler());
    HostWindow host(fakeHost.pluginHandler(), &discovery, {});
    auto* hint = host.findChild<QLabel*>(QStringLiteral("firstStepHint"));
    QVERIFY(hint);
    // Without the update plug-in there is nothing to flash a station with.
    QVERIFY(!host.findChild<QAction*>(QStringLiteral("stationAction"))->isEnabled());
    QVERIFY2(hint->text().contains(QLatin1String("Look for modules")), qPrintable(hint->text()));

    fakeHost.addModule(moduleOn(QStringLiteral("COM3"), QStringLiteral("1234V101")));
    fakeHost.addModule(moduleOn(QStringLiteral("COM4"), QStringLiteral("1234B101")));
    auto* modules = host.findChild<QTreeWidget*>();
    QCOMPARE(modules->topLevelItemCount(), 2);
    const int versionColumn = 3;
    QCOMPARE(modules->headerItem()->text(versionColumn), QStringLiteral("Firmware"));
    QStringList versions;
    for (int i = 0; i < modules->topLevelItemCount(); ++i)
        versions.append(modules->topLevelItem(i)->text(versionColumn));
    versions.sort();
    QCOMPARE(versions, QStringList({"1234B101", "1234V101"}));
    QVERIFY2(hint->text().contains(QLatin1String("HEX file")), qPrintable(hint->text()));

    // An update left the first module in its bootloader: the list shows what it runs now.
    const QString first = modules->topLevelItem(0)->text(0);
    fakeHost.pluginHandler()->noteModuleVersion(first, QStringLiteral("1234B102"));
    QCOMPARE(modules->topLevelItem(0)->text(versionColumn), QStringLiteral("1234B102"));

    // An update ends: the list takes the version its plug-in read back, and a failed one changes nothing.
    auto* plugin = new FirmwareUpdate;
    host.openContainer(plugin);
    auto* outcome = plugin->findChild<UpdateOutcome*>(QStringLiteral("updateOutcome"));
    QVERIFY(outcome);
    outcome->begin();
    outcome->finish(false, QStringLiteral("Checksum read error!"), first, QStringLiteral("1234V777"));
    QCOMPARE(modules->topLevelItem(0)->text(versionColumn), QStringLiteral("1234B102"));
    outcome->begin();
    outcome->finish(true, QString(), first, QStringLiteral("1234V200"));
    QCOMPARE(modules->topLevelItem(0)->text(versionColumn), QStringLiteral("1234V200"));
}

// Help > "Check this computer" shows what dux-host --doctor prints for this computer.
void TestPluginShell::hostWindowChecksTheComputer()
{
    HostedPlugin hosted;
    auto* check = hosted.host.findChild<QAction*>(QStringLiteral("doctorAction"));
    QVERIFY(check);
    check->trigger();
    auto* report = hosted.host.findChild<QPlainTextEdit*>(QStringLiteral("doctorReport"));
    QVERIFY(report && report->window()->isVisible());
    const QString expected = Doctor::report(
        Doctor(Doctor::Machine(), InstallLayout::pluginFolder(), RecordKeeper::configuredLocation()).examine());
    QCOMPARE(report->toPlainText().trimmed(), expected.trimmed());
}

void TestPluginShell::hostWindowTellsContainersIfChanged_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("option"); // the RunOptions field the choice sets
    QTest::addColumn<QVariant>("chosenValue"); // what the field holds once chosen (a hash as typed, upper case)
    // The choice that choosing this one drops; empty: none.
    QTest::addColumn<QString>("otherAction");
    QTest::newRow("only if changed") << "ifChangedAction" << "ifChanged" << QVariant(true)
                                     << "verifyAction";
    QTest::newRow("verify") << "verifyAction" << "verifyOnly" << QVariant(true) << "ifChangedAction";
    QTest::newRow("only if newer") << "ifNewerAction" << "ifNewer" << QVariant(true) << QString();
    QTest::newRow("expected SHA-256") << "sha256Action" << "expectedSha256"
                                      << QVariant(QStringLiteral("AB12")) << QString();
}

// Each choice is off until chosen, and reaches the containers shown before and after the choice; "Only
// if changed" and "Verify" drop each other.
void TestPluginShell::hostWindowTellsContainersIfChanged()
{
    QFETCH(QString, action);
    QFETCH(QString, option);
    QFETCH(QVariant, chosenValue);
    QFETCH(QString, otherAction);
    HostedPlugin hosted;
    auto* choice = hosted.host.findChild<QAction*>(action);
    QVERIFY(choice && choice->isCheckable());
    const bool hash = chosenValue.type() == QVariant::String;
    const QVariant off = hash ? QVariant(QString()) : QVariant(false);
    const QVariant on = hash ? QVariant(chosenValue.toString().toLower()) : chosenValue;
    const auto chosen = [&option](QObject* container) {
        const RunOptions options = RunOptions::of(container);
        const QHash<QString, QVariant> fields{{QStringLiteral("ifChanged"), options.ifChanged},
                                              {QStringLiteral("verifyOnly"), options.verifyOnly},
                                              {QStringLiteral("ifNewer"), options.ifNewer},
                                              {QStringLiteral("expectedSha256"), options.expectedSha256}};
        return fields.value(option);
    };
    QCOMPARE(chosen(hosted.plugin), off);
    const auto choose = [&](bool choosing) {
        if (hash)
            hosted.host.setExpectedSha256(choosing ? chosenValue.toString() : QString());
        else
            choice->trigger();
    };
    auto* other = otherAction.isEmpty() ? nullptr : hosted.host.findChild<QAction*>(otherAction);
    QVERIFY(otherAction.isEmpty() || other);
    if (other)
        other->trigger();
    choose(true);
    QCOMPARE(chosen(hosted.plugin), on);
    QCOMPARE(choice->isChecked(), true);
    QVERIFY(!other || !other->isChecked());
    auto* later = new FirmwareUpdate;
    hosted.host.openContainer(later);
    QCOMPARE(chosen(later), on);
    choose(false);
    QCOMPARE(chosen(hosted.plugin), off);
    QCOMPARE(chosen(later), off);
    QCOMPARE(choice->isChecked(), false);
}

void TestPluginShell::hostWindowCapturesTheWire_data()
{
    QTest::addColumn<QString>("file"); // in a folder of the test
    QTest::addColumn<bool>("records");
    QTest::newRow("writable file") << "wire.pcap" << true;
    QTest::newRow("folder not there") << "missing/wire.pcap" << false;
}

// "Capture the wire" starts the links' capture into the file chosen and stops it; it stays unchecked
// when the file cannot be written, and the status bar says why.
void TestPluginShell::hostWindowCapturesTheWire()
{
    QFETCH(QString, file);
    QFETCH(bool, records);
    FakeHost fakeHost;
    ModuleDiscovery discovery(fakeHost.pluginHandler());
    HostWindow host(fakeHost.pluginHandler(), &discovery, {});
    auto* action = host.findChild<QAction*>(QStringLiteral("captureAction"));
    QVERIFY(action && !action->isEnabled());
    WireCapture capture;
    host.setWireCapture(&capture);
    QVERIFY(action->isEnabled() && !action->isChecked());
    QTemporaryDir folder;
    const QString path = folder.filePath(file);
    QCOMPARE(host.captureTo(path), records);
    QCOMPARE(action->isChecked(), records);
    QCOMPARE(capture.isOpen(), records);
    QCOMPARE(QFile::exists(path), records);
    QCOMPARE(host.statusBar()->currentMessage().startsWith(QLatin1String("Cannot write the capture")), !records);
    host.captureTo(QString());
    QVERIFY(!action->isChecked() && !capture.isOpen());
}

void TestPluginShell::hostWindowOpensStation_data()
{
    QTest::addColumn<int>("linkKind");
    // What the user answers to each dialog in turn: a file, a station name; "@cancel": cancels it.
    QTest::addColumn<QStringList>("answers");
    // Each dialog the user saw, in turn: "file", "name", or the warning's text.
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<bool>("opens");
    QTest::newRow("file and name chosen: a fixture per module present")
        << int(DUXLConnectionInterface::Serial) << QStringList{QStringLiteral("@firmware"), QStringLiteral("line-7")}
        << QStringList{QStringLiteral("file"), QStringLiteral("name")} << true;
    QTest::newRow("no file chosen") << int(DUXLConnectionInterface::Serial) << QStringList{QStringLiteral("@cancel")}
                                    << QStringList{QStringLiteral("file")} << false;
    QTest::newRow("no name given") << int(DUXLConnectionInterface::Serial) << QStringList{QStringLiteral("@firmware"), QStringLiteral("  ")}
                                   << QStringList{QStringLiteral("file"), QStringLiteral("name")} << false;
    QTest::newRow("a file without firmware: refused with the loader's reason")
        << int(DUXLConnectionInterface::Serial) << QStringList{QStringLiteral("@empty")}
        << QStringList{QStringLiteral("file"), QStringLiteral("The station cannot start: @empty")} << false;
    // Refused before anything is chosen, as dux-host --station refuses before its window shows.
    QTest::newRow("two USB modules: refused with the reason")
        << int(DUXLConnectionInterface::Usb) << QStringList()
        << QStringList{QStringLiteral("The station cannot start: COM3/M/id1, COM4/M/id1 are on USB links")} << false;
}

// The host window's "Station..." opens the station for the modules present, asking for the file and
// the station's name with the ordinary dialogs, and refuses with the reason what --station refuses.
void TestPluginShell::hostWindowOpensStation()
{
    QFETCH(int, linkKind);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, seen);
    QFETCH(bool, opens);
    QTemporaryDir work;
    const QString firmware = FirmwareBuilder::writeFile(work.filePath(QStringLiteral("fw.hex")), FirmwareBuilder::firmwareHex("1234V201"));
    const QString empty = FirmwareBuilder::writeFile(work.filePath(QStringLiteral("empty.hex")), ":00000001FF\n");
    answers.replaceInStrings(QStringLiteral("@firmware"), firmware).replaceInStrings(QStringLiteral("@empty"), empty);
    seen.replaceInStrings(QStringLiteral("@empty"), empty);
    FakeHost fakeHost;
    for (const QString& port : {QStringLiteral("COM3"), QStringLiteral("COM4")}) {
        FakeHost::ModuleSetup setup = moduleOn(port, QStringLiteral("1234V101"));
        setup.linkKind = linkKind;
        fakeHost.addModule(setup);
    }
    ModuleDiscovery discovery(fakeHost.pluginHandler());
    auto* plugin = new FirmwareUpdate;
    HostWindow host(fakeHost.pluginHandler(), &discovery, {plugin});
    // The user, answering each modal dialog as it shows.
    QStringList shown;
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        const QString answer = answers.isEmpty() ? QStringLiteral("@cancel") : answers.takeFirst();
        const bool cancel = answer == QLatin1String("@cancel");
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown.append(box->text());
            box->accept();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            shown.append(QStringLiteral("file"));
            // Typed into the dialog's file name field, as a user does, and confirmed with Enter.
            auto* typed = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            typed->setText(answer);
            if (cancel)
                files->reject();
            else
                QTest::keyClick(typed, Qt::Key_Return);
        } else if (auto* name = qobject_cast<QInputDialog*>(modal)) {
            shown.append(QStringLiteral("name"));
            name->setTextValue(answer);
            cancel ? name->reject() : name->accept();
        }
    });
    user.start(PortPollMs);
    host.findChild<QAction*>(QStringLiteral("stationAction"))->trigger();
    user.stop();
    QCOMPARE(shown.size(), seen.size());
    for (int i = 0; i < seen.size(); ++i)
        QVERIFY2(shown.at(i).startsWith(seen.at(i)), qPrintable(shown.at(i)));
    auto* view = host.findChild<StationView*>();
    QCOMPARE(view != nullptr, opens);
    if (!opens)
        return;
    QVERIFY(view->isWindow() && view->isVisible());
    QCOMPARE(view->windowTitle(), QStringLiteral("Station line-7: 1234V201"));
    auto* station = view->findChild<Station*>();
    QCOMPARE(station->fixtureCount(), 2);
    QCOMPARE(station->fixture(1).moduleKey, QStringLiteral("COM4/M/id1"));
    QCOMPARE(station->setup().fileName, firmware);
    // Closed, the window goes with its station.
    const QPointer<Station> gone = station;
    view->close();
    QTRY_VERIFY(gone.isNull());
}

void TestPluginShell::finishedDetachesAndNextInitReloadsOnce()
{
    FakeHost host;
    host.addModule(moduleOn(QStringLiteral("COM3")));
    FirmwareUpdate plugin(QStringLiteral("fw"), host.pluginHandler());
    QPointer<QDialog> window = new QDialog;
    plugin.setParent(window);
    plugin.init(window);
    auto* modules = plugin.findChild<QComboBox*>(QStringLiteral("cmbModules"));
    QCOMPARE(modules->count(), 1);

    window->done(0);
    QVERIFY(!plugin.parentWidget());
    QTRY_VERIFY(window.isNull());

    host.addModule(moduleOn(QStringLiteral("COM4")));
    QDialog nextWindow;
    plugin.setParent(&nextWindow);
    QSignalSpy selections(modules, SIGNAL(currentIndexChanged(int)));
    plugin.init(&nextWindow);
    QCOMPARE(modules->count(), 2);
    // One rebuild of a one-item list: cleared (-1), then its first new item selected (0).
    QCOMPARE(selections.count(), 2);

    host.addModule(moduleOn(QStringLiteral("COM5")));
    plugin.init(&nextWindow);
    QCOMPARE(modules->count(), 2);
    QCOMPARE(selections.count(), 2);
    plugin.setParent(nullptr);
}

void TestPluginShell::updateWindowAfterTheUpdate_data()
{
    QTest::addColumn<QStringList>("simulator");
    // Interrupted (as by Ctrl-C) this long after the start, within the entry's wait; 0: not.
    QTest::addColumn<int>("interruptAfterMs");
    QTest::addColumn<int>("exitCode");
    // What the host's list shows of the module after the run; empty: not looked at.
    QTest::addColumn<QString>("listed");
    QTest::newRow("updated: the window goes") << QStringList() << 0 << 0 << "";
    QTest::newRow("failed: the window stays until the user closes it")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("error-status@write:*")} << 0 << 1 << "1234B101";
    // The tool never heard the bootloader: the run's own question tells the list.
    QTest::newRow("cancelled in the entry: the list shows the bootloader") << QStringList() << 1500 << 3 << "1234B101";
}

// dux-host with a window and --file, against dux-sim: the update window of an update that did not end
// updated stays for its history; closed, it goes with its instance.
void TestPluginShell::updateWindowAfterTheUpdate()
{
    QFETCH(QStringList, simulator);
    QFETCH(int, interruptAfterMs);
    QFETCH(int, exitCode);
    QFETCH(QString, listed);
    const bool staysOpen = exitCode != 0;
    QTemporaryDir work;
    const QString portList = work.filePath(QStringLiteral("ports"));
    const QString firmware = FirmwareBuilder::writeFile(work.filePath(QStringLiteral("fw.hex")), FirmwareBuilder::firmwareHex("1234V201"));
    QProcess module;
    module.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dux-sim")),
                 QStringList{QStringLiteral("--port-file"), portList, QStringLiteral("--exit-with-parent"),
                             QStringLiteral("--flash-base"), QString::number(FirmwareBuilder::FlashBase)}
                     + simulator);
    QVERIFY(module.waitForStarted(UpdateWindowTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(!PortListFile::read(portList).isEmpty(), UpdateWindowTimeoutMs);
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeAddresses({1});
    discovery.start();
    PeripheryManager::instance()->setPortSource([portList] { return PortListFile::read(portList); });
    PeripheryManager::instance()->checkActualUSBDevices(false);
    QTRY_VERIFY_WITH_TIMEOUT(!handler.getModulePluginKeys(true).isEmpty(), UpdateWindowTimeoutMs);
    FirmwareUpdate factory;
    HostWindow window(&handler, &discovery, {});
    HostOptions options;
    options.fileName = firmware;
    options.verbosity = HostOptions::Verbosity::Quiet;
    const FirmwareFileCheck file = FirmwareFileCheck::of(firmware);
    RunTeller teller(options, file.identifier);
    RunRecorder records(file.programSize);
    UpdateRun run(options, {&factory, &handler, &discovery, &window, &records}, file.identifier, file.programSize, &teller);
    QSignalSpy finished(&run, &UpdateRun::finished);
    run.start();
    if (interruptAfterMs > 0)
        QTimer::singleShot(interruptAfterMs, &run, &UpdateRun::interrupt);
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<FirmwareUpdate*>(), UpdateWindowTimeoutMs);
    const QPointer<FirmwareUpdate> instance = window.findChild<FirmwareUpdate*>();
    auto* worker = instance->findChild<FirmwareUpdaterThread*>();
    QVERIFY(worker);
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> workerLeftMs{-1};
    connect(worker, &QThread::finished, worker, [&] { workerLeftMs = clock.elapsed(); }, Qt::DirectConnection);
    qint64 windowGoesMs = -1;
    new HideWatch(instance->window(), clock, &windowGoesMs);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, UpdateWindowTimeoutMs);
    QCOMPARE(finished.first().first().toInt(), exitCode);
    if (!staysOpen) {
        // Its instance goes once the worker has finished, not before (that would hold the GUI thread
        // in the worker's join) and not long after.
        QTRY_VERIFY_WITH_TIMEOUT(instance.isNull(), UpdateWindowTimeoutMs);
        QVERIFY(workerLeftMs >= 0);
        QVERIFY2(windowGoesMs >= workerLeftMs, qPrintable(QStringLiteral("%1 ms before").arg(workerLeftMs - windowGoesMs)));
        QVERIFY2(windowGoesMs - workerLeftMs < InstanceGoneMs, qPrintable(QString::number(windowGoesMs - workerLeftMs)));
    }
    const QString key = handler.getModulePluginKeys(true).value(0);
    if (!listed.isEmpty())
        QCOMPARE(handler.getModulePlugin(key)->firmwareVersion(), listed);
    // An ended update's instance goes once its worker has left; a window left to the user stays.
    QTest::qWait(TimeScale::scaledMs(FirmwareUpdaterThread::LeavesAfterCompletionMs) + InstanceGoneMs);
    const QList<QDialog*> windows = window.findChildren<QDialog*>();
    QCOMPARE(windows.size(), staysOpen ? 1 : 0);
    // The run keeps no ended update, whose worker never started (cancelled in the entry) either.
    QCOMPARE(run.findChildren<ModuleUpdate*>().size(), 0);
    if (staysOpen) {
        const QPointer<QDialog> shown = windows.first();
        QVERIFY(shown->isVisible());
        QVERIFY(shown->findChild<QTextEdit*>(QStringLiteral("teHistory"))->toPlainText().contains(QStringLiteral("Module state: in its bootloader")));
        QVERIFY(instance && instance->window() == shown);
        shown->close();
        QTRY_VERIFY(shown.isNull() && instance.isNull());
    }
    PeripheryManager::instance()->setPortSource(nullptr);
}

void TestPluginShell::station_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<bool>("passes");
    // A list of serial numbers handed out in order to fixtures that flash on plug; empty: typed.
    QTest::addColumn<QString>("serialList");
    QTest::newRow("typed serial numbers, every unit passes") << QStringList() << true << "";
    QTest::newRow("every unit fails: the line stops until acknowledged, and the numbers go back as the units leave")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("error-status@write:*")} << false
        << "SN-1\nSN-2\nSN-3\nSN-4\n";
    QTest::newRow("numbers from a list, flashed on plug") << QStringList() << true << "# line 3\nSN-1\nSN-2\nSN-3\n";
}

// A station of three fixtures against dux-sim: serial numbers typed into the tiles as a scanner types
// them, Start all, and the records name each unit and fixture. Passed units' modules hold the file
// byte for byte; three failures in a row stop the line, which the records keep, until acknowledged.
// Failed units taken out clear their tiles and give their numbers back to the next units.
void TestPluginShell::station()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, passes);
    QFETCH(QString, serialList);
    constexpr int Fixtures = 3;
    QTemporaryDir work;
    const QString portList = work.filePath(QStringLiteral("ports"));
    const QString flash = work.filePath(QStringLiteral("flash"));
    const QString records = work.filePath(QStringLiteral("records.sqlite"));
    const QString firmware = FirmwareBuilder::writeFile(work.filePath(QStringLiteral("fw.hex")), FirmwareBuilder::firmwareHex("1234V201"));
    qputenv("DUX_RECORDS", records.toLocal8Bit());
    const auto unsetRecords = qScopeGuard([] { qunsetenv("DUX_RECORDS"); });
    QProcess modules;
    modules.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dux-sim")),
                  QStringList{QStringLiteral("--port-file"), portList, QStringLiteral("--exit-with-parent"),
                              QStringLiteral("--modules"), QString::number(Fixtures), QStringLiteral("--flash-out"), flash,
                              QStringLiteral("--flash-base"), QString::number(FirmwareBuilder::FlashBase)}
                      + simulator);
    QVERIFY(modules.waitForStarted(UpdateWindowTimeoutMs));
    const auto endModules = qScopeGuard([&modules] {
        modules.kill();
        modules.waitForFinished();
    });
    QTRY_COMPARE_WITH_TIMEOUT(PortListFile::read(portList).size(), Fixtures, UpdateWindowTimeoutMs);
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeAddresses({1});
    PeripheryManager::instance()->setPortSource([portList] { return PortListFile::read(portList); });
    PeripheryManager::instance()->setPollInterval(PortPollMs);
    const auto unsetPorts = qScopeGuard([] {
        PeripheryManager::instance()->setPollInterval(0);
        PeripheryManager::instance()->setPortSource(nullptr);
    });
    discovery.start();
    PeripheryManager::instance()->checkActualUSBDevices(false);
    QTRY_COMPARE_WITH_TIMEOUT(handler.getModulePluginKeys(true).size(), Fixtures, UpdateWindowTimeoutMs);
    FirmwareUpdate factory;
    HostWindow window(&handler, &discovery, {});
    const QString listFile = serialList.isEmpty()
        ? QString()
        : FirmwareBuilder::writeFile(work.filePath(QStringLiteral("serials")), serialList.toUtf8());
    Station station({&factory, &handler, &discovery, &window},
                    {firmware, QStringLiteral("1234V201"), QStringLiteral("line-3"), QStringLiteral("anna"), listFile,
                     StationShift::DefaultStopAfter, UpdateWindowTimeoutMs / 1000});
    QString listProblem;
    QVERIFY2(station.loadSerialList(&listProblem), qPrintable(listProblem));
    StationView view(&station);
    view.show();
    QCOMPARE(station.fixtureCount(), Fixtures);
    const auto tile = [&view](int number) { return view.findChild<QFrame*>(QStringLiteral("fixture%1").arg(number)); };
    const auto scan = [&tile](int number, const QString& serial) {
        auto* field = tile(number)->findChild<QLineEdit*>(QStringLiteral("serial"));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, serial);
        QTest::keyClick(field, Qt::Key_Return);
        return tile(number)->findChild<QLabel*>(QStringLiteral("message"))->text();
    };
    if (listFile.isEmpty()) {
        QCOMPARE(scan(2, QStringLiteral("SN-1")), QString());
        QCOMPARE(scan(1, QStringLiteral("SN-1")), QStringLiteral("SN-1 is in fixture 2."));
        for (int number = Fixtures; number >= 1; --number)
            QCOMPARE(scan(number, QStringLiteral("SN-%1").arg(number)), QString());
        view.findChild<QPushButton*>(QStringLiteral("startAll"))->click();
        QCOMPARE(scan(1, QStringLiteral("SN-9")), QStringLiteral("An update runs in this fixture."));
    } else {
        // Each fixture starts as it is told to flash on plug: its module is in, and takes the next number.
        for (int number = 1; number <= Fixtures; ++number)
            tile(number)->findChild<QCheckBox*>(QStringLiteral("flashOnPlug"))->click();
    }
    const QString verdict = passes ? QStringLiteral("PASS") : QStringLiteral("FAIL");
    for (int number = 1; number <= Fixtures; ++number)
        QTRY_COMPARE_WITH_TIMEOUT(tile(number)->findChild<QLabel*>(QStringLiteral("verdict"))->text(), verdict,
                                  UpdateWindowTimeoutMs);
    // Every attempt's final record names its unit and fixture.
    RecordStore::Filter filter;
    filter.station = QStringLiteral("line-3");
    filter.result = passes ? QStringLiteral("updated") : QStringLiteral("failed");
    QTRY_COMPARE_WITH_TIMEOUT(RecordStore(records).select(filter).size(), Fixtures, UpdateWindowTimeoutMs);
    for (const UpdateRecord& record : RecordStore(records).select(filter)) {
        QCOMPARE(record.serialNumber, QStringLiteral("SN-") + record.fixture);
        QCOMPARE(ModuleKey(record.moduleKey).port(), PortListFile::read(portList).at(record.fixture.toInt() - 1).portName());
        QCOMPARE(record.operatorName, QStringLiteral("anna"));
    }
    auto* banner = view.findChild<QFrame*>(QStringLiteral("stopBanner"));
    if (passes) {
        QVERIFY(!banner->isVisible());
        for (int place = 0; place < Fixtures; ++place) {
            const SimFlash held = SimFlash::read(QStringLiteral("%1.%2").arg(flash).arg(place));
            QVERIFY2(held.isValid(), qPrintable(held.error()));
            QCOMPARE(held.differenceFrom(firmware), QString());
        }
        QCOMPARE(scan(1, QStringLiteral("SN-2")), QStringLiteral("SN-2 passed already in this shift."));
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("stationCounts"))->text(),
                 QStringLiteral("Passed: 3   Failed: 0   First-pass yield: 100 %"));
        return;
    }
    QVERIFY(banner->isVisible());
    QVERIFY2(view.findChild<QLabel*>(QStringLiteral("stopReason"))->text().contains(QStringLiteral("failures in a row: 3")),
             qPrintable(view.findChild<QLabel*>(QStringLiteral("stopReason"))->text()));
    // Stopped: no update starts, not even a retry.
    tile(1)->findChild<QPushButton*>(QStringLiteral("retry"))->click();
    QCOMPARE(tile(1)->findChild<QLabel*>(QStringLiteral("message"))->text(),
             QStringLiteral("The line is stopped: acknowledge the stop first."));
    view.findChild<QPushButton*>(QStringLiteral("acknowledge"))->click();
    QVERIFY(!banner->isVisible());
    filter.result.clear();
    filter.fixture.clear();
    QTRY_COMPARE_WITH_TIMEOUT(RecordStore(records).select(filter).size(), Fixtures + 2, UpdateWindowTimeoutMs);
    const QVector<UpdateRecord> kept = RecordStore(records).select(filter);
    QCOMPARE(kept.at(0).result, UpdateRecord::Result::LineRestarted);
    QCOMPARE(kept.at(1).result, UpdateRecord::Result::LineStopped);
    QVERIFY(!kept.at(1).fixture.isEmpty());
    // Acknowledged, the line starts again: a retry runs (and fails again on this module).
    tile(1)->findChild<QPushButton*>(QStringLiteral("retry"))->click();
    QCOMPARE(tile(1)->findChild<QLabel*>(QStringLiteral("verdict"))->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(tile(1)->findChild<QLabel*>(QStringLiteral("verdict"))->text(), verdict, UpdateWindowTimeoutMs);
    // The failed units are taken out: each tile clears, and the list gets their numbers back.
    modules.terminate();
    QVERIFY(modules.waitForFinished(UpdateWindowTimeoutMs));
    for (int number = 1; number <= Fixtures; ++number) {
        QTRY_COMPARE_WITH_TIMEOUT(tile(number)->findChild<QLabel*>(QStringLiteral("module"))->text(), QStringLiteral("no module"),
                                  UpdateWindowTimeoutMs);
        QCOMPARE(tile(number)->findChild<QLineEdit*>(QStringLiteral("serial"))->text(), QString());
        QCOMPARE(tile(number)->findChild<QLabel*>(QStringLiteral("verdict"))->text(), QString());
        QCOMPARE(tile(number)->findChild<QLabel*>(QStringLiteral("message"))->text(), QString());
    }
    // The next units, without the fault, take the numbers given back, before SN-4, and pass.
    modules.start(modules.program(), modules.arguments().mid(0, modules.arguments().size() - simulator.size()));
    QVERIFY(modules.waitForStarted(UpdateWindowTimeoutMs));
    for (int number = 1; number <= Fixtures; ++number) {
        QTRY_VERIFY_WITH_TIMEOUT(!station.fixture(number - 1).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
        QCOMPARE(station.fixture(number - 1).serialNumber, QStringLiteral("SN-%1").arg(number));
    }
    for (int number = 1; number <= Fixtures; ++number)
        QTRY_COMPARE_WITH_TIMEOUT(tile(number)->findChild<QLabel*>(QStringLiteral("verdict"))->text(), QStringLiteral("PASS"),
                                  UpdateWindowTimeoutMs);
    for (int place = 0; place < Fixtures; ++place)
        QCOMPARE(SimFlash::read(QStringLiteral("%1.%2").arg(flash).arg(place)).differenceFrom(firmware), QString());
    // Passed units taken out have used their numbers up: the next units get SN-4, then none.
    modules.terminate();
    QVERIFY(modules.waitForFinished(UpdateWindowTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(station.fixture(Fixtures - 1).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
    modules.start(modules.program(), modules.arguments());
    QVERIFY(modules.waitForStarted(UpdateWindowTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(!station.fixture(Fixtures - 1).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
    QCOMPARE(station.fixture(0).serialNumber, QStringLiteral("SN-4"));
    QCOMPARE(station.fixture(Fixtures - 1).serialNumber, QString());
}

// USB modules come back under a new port when they restart, which no update can tell from another
// module's: a station flashes one at a time. Against dux-sim's USB-like links: a second one plugged in
// while the first is there is refused in its tile, and the first, back under new ports, stays one
// fixture; once the first is out, the next one plugged in is a fixture of its own (its port) and is
// flashed, the refused one still in. The modules' flash is judged byte for byte.
void TestPluginShell::stationUsbModules()
{
    QTemporaryDir work;
    const QString firmware = FirmwareBuilder::writeFile(work.filePath(QStringLiteral("fw.hex")), FirmwareBuilder::firmwareHex("1234V201"));
    qputenv("DUX_RECORDS", work.filePath(QStringLiteral("records.sqlite")).toLocal8Bit());
    const auto unsetRecords = qScopeGuard([] { qunsetenv("DUX_RECORDS"); });
    const QStringList prefixes{QStringLiteral("ttySIM"), QStringLiteral("ttyTWO"), QStringLiteral("ttyNEW"),
                               QStringLiteral("ttyGONE"), QStringLiteral("ttyLATE")};
    std::vector<std::unique_ptr<QProcess>> modules;
    const auto plugIn = [&](int place, const QStringList& faults = {}) {
        auto module = std::make_unique<QProcess>();
        module->start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dux-sim")),
                      QStringList{QStringLiteral("--port-file"), work.filePath(prefixes.at(place)), QStringLiteral("--exit-with-parent"),
                                  QStringLiteral("--link"), QStringLiteral("usb"), QStringLiteral("--port-prefix"), prefixes.at(place),
                                  QStringLiteral("--flash-out"), work.filePath(prefixes.at(place) + QStringLiteral(".flash")),
                                  QStringLiteral("--flash-base"), QString::number(FirmwareBuilder::FlashBase)}
                          + faults);
        modules.push_back(std::move(module));
        return modules.back()->waitForStarted(UpdateWindowTimeoutMs);
    };
    const auto takeOut = [&](int place) {
        modules.at(place)->terminate();
        return modules.at(place)->waitForFinished(UpdateWindowTimeoutMs);
    };
    const auto endModules = qScopeGuard([&modules] {
        for (const auto& module : modules) {
            module->kill();
            module->waitForFinished();
        }
    });
    // Empty when the module's flash holds the file; "unread" when dux-sim wrote none.
    const auto heldFlash = [&](int place) {
        const SimFlash held = SimFlash::read(work.filePath(prefixes.at(place) + QStringLiteral(".flash")));
        return held.isValid() ? held.differenceFrom(firmware) : QStringLiteral("unread");
    };
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setProbeAddresses({1});
    PeripheryManager::instance()->setPortSource([&work, &prefixes] {
        QList<QSerialPortInfo> ports;
        for (const QString& prefix : prefixes)
            ports += PortListFile::read(work.filePath(prefix));
        return ports;
    });
    PeripheryManager::instance()->setPollInterval(PortPollMs);
    const auto unsetPorts = qScopeGuard([] {
        PeripheryManager::instance()->setPollInterval(0);
        PeripheryManager::instance()->setPortSource(nullptr);
    });
    discovery.start();
    QVERIFY(plugIn(0));
    QTRY_COMPARE_WITH_TIMEOUT(handler.getModulePluginKeys(true).size(), 1, UpdateWindowTimeoutMs);
    FirmwareUpdate factory;
    HostWindow window(&handler, &discovery, {});
    Station station({&factory, &handler, &discovery, &window},
                    {firmware, QStringLiteral("1234V201"), QStringLiteral("line-3"), QStringLiteral("anna"), QString(),
                     StationShift::DefaultStopAfter, UpdateWindowTimeoutMs / 1000});
    StationView view(&station);
    view.show();
    const auto field = [&view](int number, const char* name) {
        return view.findChild<QFrame*>(QStringLiteral("fixture%1").arg(number))->findChild<QWidget*>(QLatin1String(name));
    };
    const auto text = [&field](int number, const char* name) {
        QWidget* shown = field(number, name);
        auto* label = qobject_cast<QLabel*>(shown);
        return label ? label->text() : qobject_cast<QLineEdit*>(shown)->text();
    };
    const auto scan = [&](int number, const QString& serial) {
        auto* serialField = qobject_cast<QLineEdit*>(field(number, "serial"));
        serialField->setFocus();
        serialField->selectAll();
        QTest::keyClicks(serialField, serial);
        QTest::keyClick(serialField, Qt::Key_Return);
        return text(number, "message");
    };
    QVERIFY(plugIn(1));
    QTRY_COMPARE_WITH_TIMEOUT(station.fixtureCount(), 2, UpdateWindowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(text(2, "message").startsWith(QStringLiteral("Not flashed: ")), UpdateWindowTimeoutMs);
    QVERIFY2(text(2, "message").contains(QStringLiteral("are on USB links")), qPrintable(text(2, "message")));
    QCOMPARE(scan(2, QStringLiteral("SN-2")), text(2, "message"));
    // The refusal is on record, as dux-host records a run it refuses.
    RecordStore::Filter refused;
    refused.station = QStringLiteral("line-3");
    refused.result = QStringLiteral("not started");
    const QString records = work.filePath(QStringLiteral("records.sqlite"));
    QTRY_COMPARE_WITH_TIMEOUT(RecordStore(records).select(refused).size(), 1, UpdateWindowTimeoutMs);
    const UpdateRecord refusal = RecordStore(records).select(refused).first();
    QCOMPARE(refusal.moduleKey, station.fixture(1).moduleKey);
    QCOMPARE(refusal.fixture, QStringLiteral("2"));
    QVERIFY2(text(2, "message").contains(refusal.failureText), qPrintable(refusal.failureText));
    QCOMPARE(scan(1, QStringLiteral("SN-1")), QString());
    view.findChild<QPushButton*>(QStringLiteral("startAll"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(1, "verdict"), QStringLiteral("PASS"), UpdateWindowTimeoutMs);
    QCOMPARE(station.fixtureCount(), 2);
    QVERIFY(station.fixture(0).ports.size() > 1);
    QCOMPARE(station.fixture(0).moduleKey, handler.getModulePluginKeys(true).filter(QStringLiteral("ttySIM")).value(0));
    QCOMPARE(heldFlash(0), QString());
    QCOMPARE(text(2, "verdict"), QString());
    // The passed unit is taken out: its tile clears.
    QVERIFY(takeOut(0));
    QTRY_COMPARE_WITH_TIMEOUT(text(1, "module"), QStringLiteral("no module"), UpdateWindowTimeoutMs);
    QCOMPARE(text(1, "serial"), QString());
    QCOMPARE(text(1, "verdict"), QString());
    QVERIFY(plugIn(2));
    QTRY_COMPARE_WITH_TIMEOUT(station.fixtureCount(), 3, UpdateWindowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!station.fixture(2).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
    QCOMPARE(text(1, "module"), QStringLiteral("no module"));
    QCOMPARE(scan(3, QStringLiteral("SN-3")), QString());
    view.findChild<QPushButton*>(QStringLiteral("startAll"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(3, "verdict"), QStringLiteral("PASS"), UpdateWindowTimeoutMs);
    QCOMPARE(heldFlash(2), QString());
    // The refused module, taken out, leaves an empty fixture; it was never written.
    QVERIFY(takeOut(1));
    QTRY_COMPARE_WITH_TIMEOUT(text(2, "message"), QString(), UpdateWindowTimeoutMs);
    QCOMPARE(station.fixture(1).state, Station::State::Empty);
    QVERIFY(!heldFlash(1).isEmpty() && heldFlash(1) != QStringLiteral("unread"));
    // A module that goes during its write and never comes back: its unit is out once the update ended, and
    // the next module plugged in is a unit of its own, not flashed under the gone one's serial number.
    QVERIFY(takeOut(2));
    QTRY_COMPARE_WITH_TIMEOUT(text(3, "module"), QStringLiteral("no module"), UpdateWindowTimeoutMs);
    QVERIFY(plugIn(3, {QStringLiteral("--fault"), QStringLiteral("port-vanishes@write:1")}));
    QTRY_COMPARE_WITH_TIMEOUT(station.fixtureCount(), 4, UpdateWindowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!station.fixture(3).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
    QCOMPARE(scan(4, QStringLiteral("SN-4")), QString());
    view.findChild<QPushButton*>(QStringLiteral("startAll"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(4, "module"), QStringLiteral("no module"), UpdateWindowTimeoutMs);
    RecordStore::Filter gone;
    gone.serialNumber = QStringLiteral("SN-4");
    gone.result = QStringLiteral("failed");
    QTRY_COMPARE_WITH_TIMEOUT(RecordStore(records).select(gone).size(), 1, UpdateWindowTimeoutMs);
    QCOMPARE(text(4, "serial"), QString());
    QVERIFY(plugIn(4));
    QTRY_COMPARE_WITH_TIMEOUT(station.fixtureCount(), 5, UpdateWindowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!station.fixture(4).moduleKey.isEmpty(), UpdateWindowTimeoutMs);
    QVERIFY(station.fixture(3).moduleKey.isEmpty());
    QCOMPARE(text(4, "module"), QStringLiteral("no module"));
}

void TestPluginShell::stationTileSpeaksGerman_data()
{
    QTest::addColumn<bool>("german");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("shown");
    QTest::newRow("german-phase") << true << "erase" << "Löschen";
    QTest::newRow("english-phase") << false << "write" << "write";
}

// A tile names its update's phase in the window's language, by the records view's one table.
void TestPluginShell::stationTileSpeaksGerman()
{
    QFETCH(bool, german);
    QFETCH(QString, phase);
    QTranslator catalogue;
    QVERIFY(catalogue.load(QStringLiteral("dux_de"), QStringLiteral(DUX_TRANSLATION_DIR)));
    if (german)
        QCoreApplication::installTranslator(&catalogue);
    StationTile tile(1);
    Station::Fixture fixture;
    fixture.state = Station::State::Running;
    fixture.phase = phase;
    tile.showFixture(fixture);
    QCoreApplication::removeTranslator(&catalogue);
    QTEST(tile.findChild<QLabel*>(QStringLiteral("phase"))->text(), "shown");
}

QTEST_MAIN(TestPluginShell)
#include "tst_pluginshell.moc"
