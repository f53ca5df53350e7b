#include "firmwareformharness.h"

#include <QComboBox>
#include <QGridLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace {
constexpr const char* LoaderName = "FirmwareUpdate::loadHexFile()";
const QByteArray ReferenceIdentifier = "1111V111";
const QByteArray Identifier = "1234V567";
}

// Loading and identifying a firmware file through the tool's form, as the file-name field drives it.
class TestFileIdentification : public QObject
{
    Q_OBJECT
private slots:
    void hexNameTest_data();
    void hexNameTest();
    void typingLoadsOnceTheNameEndsInHex();
    void formFields_data();
    void formFields();
    void failedLoadKeepsFields_data();
    void failedLoadKeepsFields();
    void locationRemembered_data();
    void locationRemembered();
    void clearingFileFields();

private:
    // Loads a first file, so that kept and replaced fields can be told apart.
    static QString loadReference(FirmwareFormHarness& harness);
};

QString TestFileIdentification::loadReference(FirmwareFormHarness& harness)
{
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("reference.hex")),
                                                        FirmwareBuilder::firmwareHex(ReferenceIdentifier));
    harness.setFileName(path);
    if (harness.text("leVersion") != QLatin1String(ReferenceIdentifier))
        qFatal("reference firmware not loaded");
    harness.takeMessages();
    return path;
}

void TestFileIdentification::hexNameTest_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("loads");
    QTest::newRow("lower case") << "firmware.hex" << true;
    QTest::newRow("upper case") << "FIRMWARE.HEX" << true;
    QTest::newRow("mixed case") << "Firmware.Hex" << true;
    QTest::newRow("backup copy") << "firmware.hex.bak" << false;
    QTest::newRow("longer extension") << "firmware.hexx" << false;
    QTest::newRow("no dot") << "firmwarehex" << false;
}

void TestFileIdentification::hexNameTest()
{
    QFETCH(QString, fileName);
    QFETCH(bool, loads);

    FirmwareFormHarness harness;
    const QString reference = loadReference(harness);
    const QString path =
        FirmwareBuilder::writeFile(harness.filesPath(fileName), FirmwareBuilder::firmwareHex(Identifier));
    harness.setFileName(path);

    const QString expected = QLatin1String(loads ? Identifier : ReferenceIdentifier);
    QCOMPARE(harness.text("leVersion"), expected);
    // A name that is not a HEX file's hands over an empty program, with the last identifier.
    QCOMPARE(harness.text("leHexVersion"), expected);
    QCOMPARE(harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled(), loads);
    // Update waits for a file with firmware.
    QCOMPARE(harness.child<QPushButton>("btnUpdate")->isEnabled(), loads);
    QCOMPARE(harness.storedDirectory().toString(), loads ? path : reference);
    QCOMPARE(harness.takeMessagesOf(LoaderName).size(), loads ? 1 : 0);
}

void TestFileIdentification::typingLoadsOnceTheNameEndsInHex()
{
    FirmwareFormHarness harness;
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("typed.hex")),
                                                        FirmwareBuilder::firmwareHex(Identifier));
    harness.takeMessages();

    QTest::keyClicks(harness.child<QLineEdit>("leFilename"), path);
    QCOMPARE(harness.text("leFilename"), path);
    const QStringList loads = harness.takeMessagesOf(LoaderName);
    QCOMPARE(loads, QStringList{QStringLiteral("analysing: %1...").arg(path)});
    QCOMPARE(harness.text("leVersion"), QLatin1String(Identifier));

    // Typing on past the extension hands an empty program over but keeps the identifier.
    QTest::keyClicks(harness.child<QLineEdit>("leFilename"), QStringLiteral(".old"));
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());
    QCOMPARE(harness.text("leHexVersion"), QLatin1String(Identifier));
    QVERIFY(harness.takeMessagesOf(LoaderName).isEmpty());
}

void TestFileIdentification::formFields_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("checksum");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("identified");

    const QByteArray image = FirmwareBuilder::firmwareImage(Identifier);
    const QByteArray anonymous = FirmwareBuilder::firmwareImage(QByteArray());
    const QString kept = QLatin1String(ReferenceIdentifier);

    QTest::newRow("identified") << FirmwareBuilder::hexOf(image) << "1024"
                                << FirmwareBuilder::checksumText(image) << QString::fromLatin1(Identifier) << true;
    QTest::newRow("end-of-file record only") << QByteArray(":00000001FF\n") << "0" << "0x0" << kept << false;
    QTest::newRow("no identifier") << FirmwareBuilder::hexOf(anonymous) << "1024"
                                   << FirmwareBuilder::checksumText(anonymous) << kept << false;
}

void TestFileIdentification::formFields()
{
    QFETCH(QByteArray, hex);
    QFETCH(QString, size);
    QFETCH(QString, checksum);
    QFETCH(QString, version);
    QFETCH(bool, identified);

    FirmwareFormHarness harness;
    loadReference(harness);
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("row.hex")), hex);

    QCOMPARE(harness.fileNameChanged(path), identified);
    QCOMPARE(harness.text("leSize"), size);
    QCOMPARE(harness.text("leChecksum"), checksum);
    QCOMPARE(harness.text("leVersion"), version);
    QCOMPARE(harness.text("leHexVersion"), identified ? version : QString());
    QCOMPARE(harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled(), identified);
}

void TestFileIdentification::failedLoadKeepsFields_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QStringList>("messages");

    const QByteArray good = FirmwareBuilder::firmwareHex(Identifier);
    // The third line is the second data record; its last checksum digit changed.
    QList<QByteArray> lines = good.split('\n');
    QByteArray& third = lines[2];
    third[third.size() - 1] = third.endsWith('0') ? '1' : '0';
    const QByteArray badSum = lines.join('\n');

    const QString path = QStringLiteral("analysing: %1...");
    QTest::newRow("checksum error in line 3") << badSum << QStringList{path, "record checksum error 3"};
    QTest::newRow("unsupported record type")
        << QByteArray(":0000000600\n") + good << QStringList{path, "record type not supported!"};
    QTest::newRow("byte above 0x40000")
        << QByteArray(":020000040004F6\n:0100010001FD\n")
        << QStringList{path, "address too high", "HEX file too large"};
    QTest::newRow("file missing") << QByteArray() << QStringList{"could not open file!"};
}

void TestFileIdentification::failedLoadKeepsFields()
{
    QFETCH(QByteArray, hex);
    QFETCH(QStringList, messages);

    FirmwareFormHarness harness;
    const QString reference = loadReference(harness);
    const QString size = harness.text("leSize");
    const QString checksum = harness.text("leChecksum");
    QString path = harness.filesPath(QStringLiteral("broken.hex"));
    if (!hex.isEmpty())
        FirmwareBuilder::writeFile(path, hex);
    messages.replaceInStrings(QStringLiteral("%1"), path);

    QVERIFY(!harness.fileNameChanged(path));
    QCOMPARE(harness.takeMessagesOf(LoaderName), messages);
    QCOMPARE(harness.text("leSize"), size);
    QCOMPARE(harness.text("leChecksum"), checksum);
    QCOMPARE(harness.text("leVersion"), QLatin1String(ReferenceIdentifier));
    QCOMPARE(harness.text("leHexVersion"), QString());
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());
    QCOMPARE(harness.storedDirectory().toString(), reference);
}

void TestFileIdentification::locationRemembered_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QByteArray>("identifier");
    QTest::addColumn<bool>("withModule");
    QTest::addColumn<bool>("stored");

    QTest::newRow("beside the home folder") << "files/fw.hex" << Identifier << true << true;
    QTest::newRow("below the home folder") << "home/kept/fw.hex" << Identifier << true << false;
    QTest::newRow("folder named like home plus more") << "home2/fw.hex" << Identifier << true << false;
    QTest::newRow("home name in other case") << "HOME/fw.hex" << Identifier << true << true;
    QTest::newRow("relative name") << "relative" << Identifier << true << true;
    QTest::newRow("file without identifier") << "files/fw.hex" << QByteArray() << true << false;
    QTest::newRow("module gone") << "files/fw.hex" << Identifier << false << false;
}

void TestFileIdentification::locationRemembered()
{
    QFETCH(QString, place);
    QFETCH(QByteArray, identifier);
    QFETCH(bool, withModule);
    QFETCH(bool, stored);

    FirmwareFormHarness harness;
    const bool relative = place == QLatin1String("relative");
    const QString path = FirmwareBuilder::writeFile(
        QDir(harness.rootPath()).filePath(relative ? QStringLiteral("files/rel.hex") : place),
        FirmwareBuilder::firmwareHex(identifier));
    if (!withModule)
        harness.removeModule(QLatin1String(FirmwareFormHarness::DefaultModuleKey));

    const QString previousDirectory = QDir::currentPath();
    if (relative)
        QDir::setCurrent(harness.filesPath(QString()));
    harness.setFileName(relative ? QStringLiteral("rel.hex") : path);
    QDir::setCurrent(previousDirectory);

    QCOMPARE(harness.text("leVersion"), QString::fromLatin1(identifier));
    QCOMPARE(harness.storedDirectory(), stored ? QVariant(QFileInfo(path).absoluteFilePath()) : QVariant());
    const QStringList directoryLines = harness.takeMessagesOf("FirmwareUpdate::handleFirmwareDirectory()");
    QCOMPARE(directoryLines.size(), stored || !withModule ? 1 : 0);
}

void TestFileIdentification::clearingFileFields()
{
    FirmwareFormHarness harness({QStringLiteral("COM3/1/id1"), QStringLiteral("COM4/1/id1")});
    loadReference(harness);
    harness.child<QLineEdit>("leModuleVersion")->setText(QStringLiteral("1234V101"));
    harness.child<QLineEdit>("leProgress")->setText(QStringLiteral("erasing"));
    harness.child<QProgressBar>("pbProcess")->setValue(42);
    harness.child<QPushButton>("btnCancel")->setEnabled(true);

    // Choosing another module clears the file fields.
    harness.child<QComboBox>("cmbModules")->setCurrentIndex(1);

    for (const char* name : {"leModuleVersion", "leProgress", "leChecksum", "leFilename", "leSize", "leVersion"})
        QVERIFY2(harness.text(name).isEmpty(), name);
    QCOMPARE(harness.child<QProgressBar>("pbProcess")->value(), 0);
    QVERIFY(!harness.child<QPushButton>("btnCancel")->isEnabled());
    // Emptying the file name handed an empty program over, with the last identifier; with nothing to
    // write Update is disabled.
    QCOMPARE(harness.text("leHexVersion"), QLatin1String(ReferenceIdentifier));
    QVERIFY(!harness.child<QPushButton>("btnUpdate")->isEnabled());
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());

    // With the name already empty nothing hands the program over again: the fields stay empty.
    harness.child<QComboBox>("cmbModules")->setCurrentIndex(0);
    QCOMPARE(harness.text("leHexVersion"), QString());
    QVERIFY(!harness.child<QPushButton>("btnUpdate")->isEnabled());
}

QTEST_MAIN(TestFileIdentification)
#include "tst_fileidentification.moc"
