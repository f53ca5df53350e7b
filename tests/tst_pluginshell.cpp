#include "containerinterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareupdate.h"
#include "pluginhandler.h"

#include <QAction>
#include <QCborMap>
#include <QCborValue>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace {

// Just enough of a module plug-in to be listed.
class ListedModule : public DUXLModuleInterface
{
public:
    ListedModule(const QString& key, const QString& firmwareName)
        : DUXLModuleInterface(key, QStringLiteral("Module"), 2, nullptr, QString())
        , m_firmwareName(firmwareName)
    {
    }
    DUXLConnectionInterface* connectionInterface() const override { return nullptr; }
    unsigned char moduleAddress() const override { return 1; }
    QString nameInFirmware() const override { return m_firmwareName; }
    QString moduleName() const override { return QStringLiteral("M"); }
    void setModuleState(int) override {}

private:
    QString m_firmwareName;
};

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
    void initWarnsAboutForeignParent();
    void finishedDetachesAndNextInitReloadsOnce();

private:
    QTemporaryDir m_home;
};

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

QTEST_MAIN(TestPluginShell)
#include "tst_pluginshell.moc"
