#include "framedecodechecker.h"
#include "hexreadchecker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

// Every input a fuzzer ever failed on, kept under tests/data/ (frame streams in frames/, HEX files
// elsewhere), read again with that fuzzer's own invariant checks, so that a fault it once found cannot
// come back unnoticed.
class TestRegressions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void findings_data();
    void findings();

private:
    static QStringList findingFiles(const QString& folder);
};

namespace {
const QString FrameFolder = QStringLiteral(DUX_FINDINGS_DIR "/frames");
}

QStringList TestRegressions::findingFiles(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

void TestRegressions::initTestCase()
{
    // An empty list would pass without checking anything, e.g. after the folder moved.
    QVERIFY2(!findingFiles(QStringLiteral(DUX_FINDINGS_DIR)).isEmpty(), "no inputs in " DUX_FINDINGS_DIR);
    QVERIFY2(!findingFiles(FrameFolder).isEmpty(), qPrintable(QStringLiteral("no inputs in ") + FrameFolder));
}

void TestRegressions::findings_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(DUX_FINDINGS_DIR));
    for (const QString& path : findingFiles(dir.path()))
        QTest::newRow(qPrintable(dir.relativeFilePath(path))) << path;
}

void TestRegressions::findings()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = file.readAll();
    const std::string broken = path.startsWith(FrameFolder + QLatin1Char('/'))
        ? FrameDecodeChecker().check(input.constData(), std::size_t(input.size()))
        : HexReadChecker().check(input.constData(), std::size_t(input.size()));
    QVERIFY2(broken.empty(), broken.c_str());
}

QTEST_GUILESS_MAIN(TestRegressions)
#include "tst_regressions.moc"
