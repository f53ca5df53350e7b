// The tool's files outside the module: the settings file and the local pool of firmware files, broken
// or out of reach, and a firmware file gone before the update. The update has to go through, the
// readable settings have to be kept, and nothing in the pool may be overwritten.

#include "appsettings.h"
#include "firmwarebuilder.h"
#include "wirerig.h"
#include "workerreportapplication.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace {

constexpr int RunMs = 15000;
constexpr const char* SettingsFileName = "dux.ini";
constexpr const char* Group = "Container_FirmwareUpdate";
// The module name of a module of type 1234, and the key of its remembered firmware location.
constexpr const char* DirectoryKey = "DUX1234_Dir";
constexpr const char* RememberedFile = "/remembered/dux1234.hex";
// Root ignores permission bits; the immutable attribute stops root too.
constexpr const char* AttributeTool = "chattr";

bool writable(const QString& path)
{
    if (QFileInfo(path).isDir()) {
        QFile probe(QDir(path).filePath(QStringLiteral(".probe")));
        const bool created = probe.open(QIODevice::WriteOnly);
        probe.remove();
        return created;
    }
    QFile file(path);
    return file.open(QIODevice::Append);
}

// Takes write access away, for root too; false when this file system cannot do that.
bool makeReadOnly(const QString& path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther
                                    | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    if (!writable(path))
        return true;
    return QProcess::execute(QLatin1String(AttributeTool), {QStringLiteral("+i"), path}) == 0 && !writable(path);
}

void makeWritable(const QString& path)
{
    if (!writable(path))
        QProcess::execute(QLatin1String(AttributeTool), {QStringLiteral("-i"), path});
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file of a folder with its content.
QMap<QString, QByteArray> filesIn(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString& name : names)
        files.insert(name, contentOf(QDir(folder).filePath(name)));
    return files;
}

// Undoes makeReadOnly when the test ends, however it ends, so that the temporary folder can go.
struct WritableAgain
{
    QString path;
    ~WritableAgain()
    {
        if (!path.isEmpty())
            makeWritable(path);
    }
};

}

class TestSettingsPool : public QObject
{
    Q_OBJECT
private slots:
    void settingsFile_data();
    void settingsFile();
    void poolFolder_data();
    void poolFolder();
    void fileGoneBeforeUpdate();
    void homePathIsNormalised_data();
    void homePathIsNormalised();

private:
    // The text of the browse entry of the file button's menu, as the menu shows it.
    QString browseText(WireRig& rig);
};

QString TestSettingsPool::browseText(WireRig& rig)
{
    QMenu* menu = rig.tool()->findChild<QToolButton*>(QStringLiteral("btnSelect"))->menu();
    emit menu->aboutToShow();
    return menu->actions().last()->text();
}

void TestSettingsPool::settingsFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("browse");
    // The settings file is a folder.
    QTest::addColumn<bool>("folder");

    const QByteArray remembered = QByteArray("[") + Group + "]\n" + DirectoryKey + '=' + RememberedFile + '\n';
    // Lines a settings reader cannot take: control bytes, a section without its end, a value without key.
    QByteArray garbage("\x01\x02\xff\xfe garbage\n[unterminated\n=no key\n");
    garbage.append(3, '\0');
    const QString rememberedBrowse = QStringLiteral("Browse ") + QLatin1String(RememberedFile);
    // A corrupt file is saved anew with what could be read, after a copy of it as it was; the
    // remembered location is used when it could be read, else the default.
    QTest::newRow("corrupt") << remembered + garbage << false << rememberedBrowse << false;
    // The unfinished section swallows the group: nothing of it can be read.
    QTest::newRow("corrupt before the group") << garbage + remembered << false << "Browse /" << false;
    // A file that cannot be written keeps what the session changes in memory and stays as it is; the
    // history says that the settings could not be saved.
    QTest::newRow("read-only") << remembered << true << rememberedBrowse << false;
    QTest::newRow("a folder") << QByteArray() << false << "Browse /" << true;
}

void TestSettingsPool::settingsFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, readOnly);
    QFETCH(QString, browse);
    QFETCH(bool, folder);

    WireRig rig;
    const QString settingsFile = QDir(rig.homePath()).filePath(QLatin1String(SettingsFileName));
    if (folder)
        QVERIFY(QDir().mkpath(settingsFile));
    else
        FirmwareBuilder::writeFile(settingsFile, content);
    WritableAgain restore;
    if (readOnly) {
        if (!makeReadOnly(settingsFile))
            QSKIP("this file system cannot make a file read-only for this user");
        restore.path = settingsFile;
    }

    if (!readOnly && !folder) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("cannot be read in full; the next save keeps only")));
    }
    QVERIFY(rig.startModule());
    QVERIFY(rig.startHost());
    QCOMPARE(browseText(rig), browse);
    rig.updateAndReadBack();

    QCOMPARE(rig.historyText().contains(QStringLiteral("Settings could not be saved to %1: ").arg(settingsFile)),
             readOnly || folder);
    if (readOnly || folder) {
        QCOMPARE(contentOf(settingsFile), content);
        return;
    }
    QCOMPARE(contentOf(settingsFile + QStringLiteral(".unreadable")), content);
    AppSettings settings;
    // Rewritten readable, with the remembered location and what the tool noted about the link.
    QCOMPARE(settings.status(), QSettings::NoError);
    settings.beginGroup(QLatin1String(Group));
    QCOMPARE(settings.value(QLatin1String(DirectoryKey)).toString(), rig.firmwareFile());
    QVERIFY2(settings.value(QStringLiteral("ttySIM0_DUX1234_Bitrate")).isValid(), qPrintable(contentOf(settingsFile)));
}

void TestSettingsPool::poolFolder_data()
{
    QTest::addColumn<bool>("missing");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("copied");

    // Made again for the copy, as the file button's menu makes it.
    QTest::newRow("missing") << true << false << true;
    // The copy fails; the update does not, and nothing in the pool changes.
    QTest::newRow("read-only") << false << true << false;
}

void TestSettingsPool::poolFolder()
{
    QFETCH(bool, missing);
    QFETCH(bool, readOnly);
    QFETCH(bool, copied);

    WireRig rig;
    const QString pool = rig.poolPath();
    WritableAgain restore;
    if (missing) {
        QVERIFY(QDir(pool).removeRecursively());
    } else {
        FirmwareBuilder::writeFile(QDir(pool).filePath(QStringLiteral("other.hex")), "kept as it is");
        if (readOnly) {
            if (!makeReadOnly(pool))
                QSKIP("this file system cannot make a folder read-only for this user");
            restore.path = pool;
        }
    }
    const QMap<QString, QByteArray> before = filesIn(pool);

    QVERIFY(rig.startModule());
    QVERIFY(rig.startHost());
    rig.updateAndReadBack();

    QMap<QString, QByteArray> expected = before;
    if (copied)
        expected.insert(QFileInfo(rig.firmwareFile()).fileName(), contentOf(rig.firmwareFile()));
    QCOMPARE(filesIn(pool), expected);
}

void TestSettingsPool::fileGoneBeforeUpdate()
{
    WireRig rig;
    const QString file = rig.filePath(QStringLiteral("goes away.hex"));
    FirmwareBuilder::writeFile(file, contentOf(rig.firmwareFile()));
    const QMap<QString, QByteArray> poolBefore = filesIn(rig.poolPath());
    QVERIFY(rig.startModule());
    QVERIFY(rig.startHost());
    QVERIFY(rig.chooseModuleAndFile(file));
    // The image was read when the file was chosen: the update writes that.
    QVERIFY(QFile::remove(file));
    WorkerReportApplication* app = WorkerReportApplication::instance();
    app->watch(rig.tool());
    rig.button("btnUpdate")->click();
    QTRY_COMPARE_WITH_TIMEOUT(app->reports(), QList<bool>{true}, RunMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.lineEdit("leActualFirmware")->text(), QLatin1String(WireRig::NewFirmware), RunMs);
    // There is nothing to keep a copy of.
    QCOMPARE(filesIn(rig.poolPath()), poolBefore);
}

void TestSettingsPool::homePathIsNormalised_data()
{
    // How the home folder is named; the pool and the settings file hang off the one normal form.
    QTest::addColumn<QString>("named");
    QTest::newRow("trailing slash") << "home/";
    QTest::newRow("dot segments") << "./x/../home";
    QTest::newRow("relative") << "home";
}

void TestSettingsPool::homePathIsNormalised()
{
    QFETCH(QString, named);
    QTemporaryDir folder;
    const QByteArray before = qgetenv(AppSettings::HomeEnvironmentVariable);
    const QString previousDirectory = QDir::currentPath();
    QDir::setCurrent(folder.path());
    qputenv(AppSettings::HomeEnvironmentVariable, named.toLocal8Bit());
    const QString home = AppSettings::homePath();
    qputenv(AppSettings::HomeEnvironmentVariable, before);
    QDir::setCurrent(previousDirectory);
    QCOMPARE(home, QDir(folder.path()).canonicalPath() + QStringLiteral("/home"));
}

DUX_WIRE_TEST_MAIN(TestSettingsPool)

#include "tst_settingspool.moc"
