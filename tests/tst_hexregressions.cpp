#include "hexreadchecker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

// Every input the HEX fuzzer ever failed on, kept under tests/data/, read again with the fuzzer's own
// invariant checks, so that a fault it once found cannot come back unnoticed.
class TestHexRegressions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void findings_data();
    void findings();

private:
    static QStringList findingFiles();
};

QStringList TestHexRegressions::findingFiles()
{
    QStringList files;
    QDirIterator it(QStringLiteral(DUX_HEX_REGRESSION_DIR), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

void TestHexRegressions::initTestCase()
{
    // An empty list would pass without checking anything, e.g. after the folder moved.
    QVERIFY2(!findingFiles().isEmpty(), "no inputs in " DUX_HEX_REGRESSION_DIR);
}

void TestHexRegressions::findings_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(DUX_HEX_REGRESSION_DIR));
    for (const QString& path : findingFiles())
        QTest::newRow(qPrintable(dir.relativeFilePath(path))) << path;
}

void TestHexRegressions::findings()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = file.readAll();
    HexReadChecker checker;
    const std::string broken = checker.check(input.constData(), std::size_t(input.size()));
    QVERIFY2(broken.empty(), broken.c_str());
}

QTEST_GUILESS_MAIN(TestHexRegressions)
#include "tst_hexregressions.moc"
