#include "containerinterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareupdate.h"
#include "hostwindow.h"
#include "modulediscovery.h"
#include "pluginhandler.h"

#include <QAction>
#include <QCborMap>
#include <QCborValue>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

// Just enough of a module plug-in to be listed.
class ListedModule : public DUXLModuleInterface
{
public:
    ListedModule(const QString& key, const QString& firmwareName, const QString& version = QString())
        : DUXLModuleInterface(key, QStringLiteral("Module"), 2, nullptr, QString())
        , m_firmwareName(firmwareName)
        , m_version(version)
    {
    }
    DUXLConnectionInterface* connectionInterface() const override { return nullptr; }
    unsigned char moduleAddress() const override { return 1; }
    QString nameInFirmware() const override { return m_firmwareName; }
    QString moduleName() const override { return QStringLiteral("M"); }
    void setModuleState(int) override {}
    QString firmwareVersion() const override { return m_version; }

private:
    QString m_firmwareName;
    QString m_version;
};

// The smallest window the user can make of the host's: the form at its minimum size.
constexpr int SmallWindowSide = 420;
// QLineEdit keeps this many pixels free on either side of its text.
constexpr int LineEditTextMargin = 2;

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
    void metadataRecordInLibraryFile();
    void loadsThroughPluginLoader();
    void metaObjectListsSignalAndSlotsInOrder();
    void slotArgumentTypesRegisterOnFirstUse_data();
    void slotArgumentTypesRegisterOnFirstUse();
    void castsByIdentifierAndClassName_data();
    void castsByIdentifierAndClassName();
    void onlyFactoryConstructorShowsOnToolbar();
    void initBuildsFormOnce();
    void initWarnsAboutForeignParent();
    void displayFieldsAfterInit_data();
    void displayFieldsAfterInit();
    void enterInFileNamePressesNoButton_data();
    void enterInFileNamePressesNoButton();
    void hostWindowShowsVersionsAndFirstStep();
    void finishedDetachesAndNextInitReloadsOnce();
    void listSkipsExcludedModules();
    void neverInitialisedObjectIsDestroyedCleanly();

private:
    QTemporaryDir m_home;
};

void TestPluginShell::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("DUX_HOME", m_home.path().toLocal8Bit());
    QVERIFY2(QFileInfo::exists(pluginFilePath()), qPrintable(pluginFilePath()));
}

void TestPluginShell::metadataRecordInLibraryFile()
{
    QFile library(pluginFilePath());
    QVERIFY(library.open(QIODevice::ReadOnly));
    const QByteArray bytes = library.readAll();
    const QByteArray magic("QTMETADATA !");
    const int at = bytes.indexOf(magic);
    QVERIFY(at >= 0);
    const QByteArray header = bytes.mid(at + magic.size(), 4);
    QCOMPARE(header, QByteArray("\x00\x05\x0f\x00", 4));

    const QByteArray cbor = bytes.mid(at + magic.size() + 4);
    QCOMPARE(static_cast<unsigned char>(cbor.at(0)), static_cast<unsigned char>(0xbf)); // map of indefinite length
    const QCborMap map = QCborValue::fromCbor(cbor).toMap();
    QCOMPARE(map.value(2).toString(), QStringLiteral("com.dux.ContainerInterface/2.0"));
    QCOMPARE(map.value(3).toString(), QStringLiteral("FirmwareUpdate"));
    const QCborMap metaData = map.value(4).toMap();
    QCOMPARE(metaData.size(), 1);
    QCOMPARE(metaData.value(QStringLiteral("name")).toString(), QStringLiteral("Container"));
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
    QCOMPARE(made->key(), QStringLiteral("k"));
    QCOMPARE(made->property("dpShowOnToolbar"), QVariant(true));
    QCOMPARE(static_cast<ContainerInterface*>(made.data())->pluginHandler(), &handler);
}

void TestPluginShell::metaObjectListsSignalAndSlotsInOrder()
{
    const QStringList expected = {
        "handleFirmwareCompleted(QString,QString)",
        "on_btnRefresh_clicked()",
        "on_cmbModules_currentIndexChanged(int)",
        "doFirmwareUpdate(unsigned char*,int,int,int,int,int)",
        "handleFirmwareDirectory(QString)",
        "handleUpdateCompleted(bool)",
        "handleUpdateCompleted()",
        "handleCloseDevice()",
        "handleReOpenDevice(int)",
        "forwardDoDirectRequest(Command*,Command*)",
        "forwardDoDirectRequestWithoutAnswer(Command*)",
        "dumpElapsedTime()",
        "finished(int)",
        "handleUSBDevices(QList<QSerialPortInfo>,QList<QSerialPortInfo>)",
        "fileNameChanged(QString)",
        "on_btnUpdate_clicked()",
        "on_btnCancel_clicked()",
        "handleProgressMessage(QString)",
        "handleDebugMessage(QString)",
        "handleModuleVersion(QString)",
        "handleGetFirmwareVersion(QString*,int)",
        "prepareSelect()",
        "toolSelectAction(QAction*)",
        "doubleClickedFile(QModelIndex)",
        "parameterChanged(int)",
        "handleModulePlugin(DUXLModuleInterface*,QString)",
        "dropEvent(QDropEvent*)",
        "dragEnterEvent(QDragEnterEvent*)",
        "dragMoveEvent(QDragMoveEvent*)",
    };
    const QMetaObject& meta = FirmwareUpdate::staticMetaObject;
    QStringList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        found.append(QString::fromLatin1(meta.method(i).methodSignature()));
    QCOMPARE(found, expected);

    const int offset = meta.methodOffset();
    QCOMPARE(meta.method(offset).methodType(), QMetaMethod::Signal);
    QCOMPARE(meta.method(offset + 1).access(), QMetaMethod::Private);
    QCOMPARE(meta.method(offset + 26).access(), QMetaMethod::Protected);
    QCOMPARE(QByteArray(meta.method(offset + 14).typeName()), QByteArray("bool"));
}

void TestPluginShell::slotArgumentTypesRegisterOnFirstUse_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QByteArray>("typeName");
    QTest::newRow("command") << QByteArray("forwardDoDirectRequestWithoutAnswer") << QByteArray("Command*");
    QTest::newRow("action") << QByteArray("toolSelectAction") << QByteArray("QAction*");
    QTest::newRow("module plug-in") << QByteArray("handleModulePlugin") << QByteArray("DUXLModuleInterface*");
}

void TestPluginShell::slotArgumentTypesRegisterOnFirstUse()
{
    QFETCH(QByteArray, slot);
    QFETCH(QByteArray, typeName);
    // Queued calls are what need the types: the meta-object registers them when first asked.
    auto* plugin = new FirmwareUpdate;
    const QMetaObject* meta = plugin->metaObject();
    QMetaMethod method;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        if (meta->method(i).name() == slot)
            method = meta->method(i);
    }
    QVERIFY(method.isValid());
    void* null = nullptr;
    QGenericArgument first(typeName.constData(), &null);
    QString text;
    const bool queued = method.parameterCount() == 2
                            ? method.invoke(plugin, Qt::QueuedConnection, first, Q_ARG(QString, text))
                            : method.invoke(plugin, Qt::QueuedConnection, first);
    QVERIFY(queued);
    QVERIFY(QMetaType::type(typeName.constData()) != QMetaType::UnknownType);
    // Deleted before the queued call is delivered: nothing of it runs.
    delete plugin;
}

void TestPluginShell::castsByIdentifierAndClassName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("yieldsObject");
    QTest::newRow("interface identifier") << QByteArray("com.dux.ContainerInterface/2.0") << true;
    QTest::newRow("class name") << QByteArray("FirmwareUpdate") << true;
    QTest::newRow("base class name") << QByteArray("ContainerInterface") << true;
    QTest::newRow("QWidget") << QByteArray("QWidget") << true;
    QTest::newRow("unknown") << QByteArray("NoSuchInterface") << false;
}

void TestPluginShell::castsByIdentifierAndClassName()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, yieldsObject);
    FirmwareUpdate plugin;
    void* cast = plugin.qt_metacast(name.constData());
    if (!yieldsObject) {
        QVERIFY(!cast);
        return;
    }
    QVERIFY(cast);
    // The widget is the first base all the way down, so every answer is the object's own address.
    QCOMPARE(cast, static_cast<void*>(&plugin));
    if (name == "ContainerInterface")
        QCOMPARE(plugin.ContainerInterface::qt_metacast(name.constData()), cast);
}

void TestPluginShell::onlyFactoryConstructorShowsOnToolbar()
{
    FirmwareUpdate byEntryPoint;
    QVERIFY(!byEntryPoint.dynamicPropertyNames().contains("dpShowOnToolbar"));
    FirmwareUpdate byFactory(QStringLiteral("key"), nullptr);
    QCOMPARE(byFactory.property("dpShowOnToolbar"), QVariant(true));
}

void TestPluginShell::initBuildsFormOnce()
{
    QDialog window;
    auto* plugin = new FirmwareUpdate;
    plugin->setParent(&window);
    plugin->init(&window);

    QCOMPARE(plugin->objectName(), QStringLiteral("FirmwareUpdate"));
    QCOMPARE(plugin->windowTitle(), QStringLiteral("Firmware update"));
    QCOMPARE(plugin->property("dpStatusTip").toString(), QStringLiteral("use this tool to update modules"));
    auto* newFirmware = plugin->findChild<QGroupBox*>(QStringLiteral("gbNewFirmware"));
    QVERIFY(newFirmware);
    QVERIFY(!newFirmware->isEnabled());
    QVERIFY(!plugin->findChild<QPushButton*>(QStringLiteral("btnCancel"))->isEnabled());
    QVERIFY(!plugin->findChild<QPushButton*>(QStringLiteral("btnUpdate"))->isEnabled());
    QVERIFY(plugin->acceptDrops());
    const QString tip = newFirmware->toolTip();
    QVERIFY(tip.contains(QStringLiteral("Get a filename")));
    QVERIFY(tip.indexOf(QStringLiteral("Browse to a firmware file"))
            < tip.indexOf(QStringLiteral("Enter or paste absolute filename")));
    QVERIFY(tip.indexOf(QStringLiteral("Enter or paste absolute filename")) < tip.indexOf(QStringLiteral("Drop a file here")));
    QCOMPARE(newFirmware->property("dpAdvancedTip"), QVariant(plugin->toolTip()));

    auto* select = plugin->findChild<QToolButton*>(QStringLiteral("btnSelect"));
    QVERIFY(select && select->menu());
    const QList<QAction*> entries = select->menu()->actions();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.first()->text(), QStringLiteral("Local pool"));
    QCOMPARE(entries.last()->text(), QStringLiteral("Browse..."));
    QCOMPARE(select->defaultAction(), select->menu()->menuAction());
    QCOMPARE(select->text(), QStringLiteral("Browse..."));

    plugin->init(&window);
    QCOMPARE(plugin->findChildren<QGroupBox*>(QStringLiteral("gbNewFirmware")).size(), 1);
    QCOMPARE(plugin->findChildren<QMenu*>().size(), 1);
    QCOMPARE(select->menu()->actions().size(), 2);
}

void TestPluginShell::displayFieldsAfterInit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("centred");
    // The widest value the field shows, which the host's window at its smallest must show whole.
    QTest::addColumn<QString>("widestValue");
    QTest::newRow("progress") << "leProgress" << false << false << QString();
    QTest::newRow("actual firmware") << "leActualFirmware" << false << true << "1234V101";
    QTest::newRow("size") << "leSize" << false << true << "262144";
    QTest::newRow("checksum") << "leChecksum" << false << true << "0x3fc0d08e";
    QTest::newRow("version") << "leVersion" << false << true << "1234V200";
    QTest::newRow("hex version") << "leHexVersion" << false << true << "1234V200";
    QTest::newRow("module version") << "leModuleVersion" << false << true << "1234B101";
    QTest::newRow("file name") << "leFilename" << true << false << QString();
}

void TestPluginShell::displayFieldsAfterInit()
{
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    QFETCH(bool, centred);
    QFETCH(QString, widestValue);
    HostedPlugin hosted;
    auto* field = hosted.plugin->findChild<QLineEdit*>(name);
    QVERIFY(field);
    QCOMPARE(field->isEnabledTo(field->parentWidget()), enabled);
    QCOMPARE(bool(field->alignment() & Qt::AlignHCenter), centred);
    QVERIFY(!field->isReadOnly());

    field->setText(widestValue);
    hosted.window->resize(SmallWindowSide, SmallWindowSide);
    QCoreApplication::sendPostedEvents();
    QVERIFY2(showsWholeText(field),
             qPrintable(QStringLiteral("%1 in %2 px: %3").arg(field->text()).arg(field->width()).arg(name)));
}

void TestPluginShell::enterInFileNamePressesNoButton_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("return") << int(Qt::Key_Return);
    QTest::newRow("keypad enter") << int(Qt::Key_Enter);
}

void TestPluginShell::enterInFileNamePressesNoButton()
{
    QFETCH(int, key);
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
    QTest::keyClick(fileName, Qt::Key(key));
    QCOMPARE(fileName->text(), typed);
    for (int i = 0; i < buttons.size(); ++i)
        QVERIFY2(clicks.at(i)->isEmpty(), qPrintable(buttons.at(i)->objectName()));
}

void TestPluginShell::hostWindowShowsVersionsAndFirstStep()
{
    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    HostWindow host(&handler, &discovery, {});
    auto* hint = host.findChild<QLabel*>(QStringLiteral("firstStepHint"));
    QVERIFY(hint);
    QVERIFY2(hint->text().contains(QLatin1String("Look for modules")), qPrintable(hint->text()));

    ListedModule inFirmware(QStringLiteral("COM3/M/id1"), QStringLiteral("1234"), QStringLiteral("1234V101"));
    ListedModule inBootloader(QStringLiteral("COM4/M/id2"), QStringLiteral("1234"), QStringLiteral("1234B101"));
    handler.addModulePlugin(inFirmware.key(), &inFirmware, QString());
    handler.addModulePlugin(inBootloader.key(), &inBootloader, QString());
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
    handler.removeModulePlugin(inFirmware.key());
    handler.removeModulePlugin(inBootloader.key());
}

void TestPluginShell::initWarnsAboutForeignParent()
{
    QDialog window;
    QDialog other;
    auto* plugin = new FirmwareUpdate;
    plugin->setParent(&window);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^virtual void FirmwareUpdate::init\\(QWidget\\*\\) QDialog\\(.*\\) QDialog\\(.*\\)$")));
    plugin->init(&other);
    QCOMPARE(plugin->parentWidget(), &window);
}

void TestPluginShell::finishedDetachesAndNextInitReloadsOnce()
{
    PluginHandler handler;
    ListedModule first(QStringLiteral("COM3/M/id1"), QStringLiteral("1234"));
    handler.addModulePlugin(first.key(), &first, QStringLiteral("COM3"));

    FirmwareUpdate plugin(QStringLiteral("fw"), &handler);
    QPointer<QDialog> window = new QDialog;
    plugin.setParent(window);
    plugin.init(window);
    auto* modules = plugin.findChild<QComboBox*>(QStringLiteral("cmbModules"));
    QCOMPARE(modules->count(), 1);

    window->done(0);
    QVERIFY(!plugin.parentWidget());
    QTRY_VERIFY(window.isNull());

    ListedModule second(QStringLiteral("COM4/M/id1"), QStringLiteral("1234"));
    handler.addModulePlugin(second.key(), &second, QStringLiteral("COM4"));
    QDialog nextWindow;
    plugin.setParent(&nextWindow);
    QSignalSpy selections(modules, SIGNAL(currentIndexChanged(int)));
    plugin.init(&nextWindow);
    QCOMPARE(modules->count(), 2);
    // One rebuild of a one-item list: cleared (-1), then its first new item selected (0).
    QCOMPARE(selections.count(), 2);

    ListedModule third(QStringLiteral("COM5/M/id1"), QStringLiteral("1234"));
    handler.addModulePlugin(third.key(), &third, QStringLiteral("COM5"));
    plugin.init(&nextWindow);
    QCOMPARE(modules->count(), 2);
    QCOMPARE(selections.count(), 2);
    plugin.setParent(nullptr);
}

void TestPluginShell::listSkipsExcludedModules()
{
    PluginHandler handler;
    ListedModule plain(QStringLiteral("COM3/M/id1"), QStringLiteral("1234"));
    ListedModule virtualPort(QStringLiteral("VC1/M/id1"), QStringLiteral("1234"));
    ListedModule lowerVirtual(QStringLiteral("vc1/M/id1"), QStringLiteral("1234"));
    ListedModule excludedKind(QStringLiteral("COM4/M/id1"), QStringLiteral("0055"));
    ListedModule noSlash(QStringLiteral("COM7"), QStringLiteral("1234"));
    for (ListedModule* module : {&plain, &virtualPort, &lowerVirtual, &excludedKind, &noSlash})
        handler.addModulePlugin(module->key(), module, QString());

    FirmwareUpdate plugin(QStringLiteral("fw"), &handler);
    // Without a host window there is no finished(int) to follow; Qt says so and nothing else depends on it.
    QTest::ignoreMessage(QtWarningMsg, "QObject::connect: Cannot connect (nullptr)::finished(int) to FirmwareUpdate::finished(int)");
    plugin.init(nullptr);
    auto* modules = plugin.findChild<QComboBox*>(QStringLiteral("cmbModules"));
    QStringList listed;
    for (int i = 0; i < modules->count(); ++i)
        listed.append(modules->itemText(i));
    QCOMPARE(listed, QStringList({"COM3/M/id1", "vc1/M/id1", "COM7"}));
    QCOMPARE(modules->itemData(0).toList(),
             QVariantList({QStringLiteral("COM3/M/id1"), QStringLiteral("Module"), QStringLiteral("COM3")}));
    QCOMPARE(modules->itemData(2).toList().at(2).toString(), QStringLiteral("COM7"));
    auto* select = plugin.findChild<QToolButton*>(QStringLiteral("btnSelect"));
    QVERIFY(select->isEnabledTo(select->parentWidget()));

    handler.removeModulePlugin(plain.key());
    handler.removeModulePlugin(lowerVirtual.key());
    handler.removeModulePlugin(noSlash.key());
    QMetaObject::invokeMethod(&plugin, "on_btnRefresh_clicked");
    QCOMPARE(modules->count(), 0);
    QVERIFY(!select->isEnabledTo(select->parentWidget()));
}

void TestPluginShell::neverInitialisedObjectIsDestroyedCleanly()
{
    QPointer<FirmwareUpdate> plugin = new FirmwareUpdate;
    QVERIFY(!plugin->findChild<QWidget*>());
    delete plugin;
    QVERIFY(plugin.isNull());
}

QTEST_MAIN(TestPluginShell)
#include "tst_pluginshell.moc"
