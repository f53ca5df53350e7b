#include "elapsedclock.h"
#include "firmwareupdate.h"
#include "toolharness.h"

#include <QDialog>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Everything written to the process's standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QByteArray text()
    {
        restore();
        QFile reader(m_file.fileName());
        reader.open(QIODevice::ReadOnly);
        return reader.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

// What a reader sees: each character with its colour ("-" when it has none of its own). Line and
// paragraph breaks both show as one line break.
QString visibleText(const QTextDocument* document)
{
    QString seen;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block != document->begin())
            seen += QStringLiteral("\n");
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            const QString colour = format.hasProperty(QTextFormat::ForegroundBrush)
                ? format.foreground().color().name()
                : QStringLiteral("-");
            for (const QChar c : fragment.fragment().text()) {
                if (c == QChar::LineSeparator)
                    seen += QStringLiteral("\n");
                else
                    seen += QString(c) + QLatin1Char('{') + colour + QLatin1Char('}');
            }
        }
    }
    return seen;
}

}

class TestHistoryDisplay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsWhatLineBreakInsertionShows_data();
    void showsWhatLineBreakInsertionShows();
    void consoleEcho_data();
    void consoleEcho();
    void newestLineStaysVisible();
    void clockText_data();
    void clockText();
    void elapsedTimeGoesOnlyToHostWindowTitle();

private:
    bool invoke(const char* slot, QGenericArgument argument = QGenericArgument())
    {
        return m_harness->invoke(slot, argument);
    }
    QTextEdit* history() const { return m_harness->history(); }

    QTemporaryDir m_home;
    std::unique_ptr<ToolHarness> m_harness;
    FirmwareUpdate* m_tool = nullptr;
    QDialog* m_window = nullptr;
};

void TestHistoryDisplay::initTestCase()
{
    qputenv("DUX_HOME", m_home.path().toLocal8Bit());
}

void TestHistoryDisplay::init()
{
    m_harness = std::make_unique<ToolHarness>();
    m_tool = m_harness->start(false);
    m_window = m_harness->window();
}

void TestHistoryDisplay::cleanup()
{
    m_harness.reset();
}

void TestHistoryDisplay::showsWhatLineBreakInsertionShows_data()
{
    // Steps: "m:" a history line, "*" the completion's retry mark, "a:" a paragraph the widget appends
    // itself (watchdog, reopen notes), "clear" the start of an update.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("plain lines") << QStringList{"m:first", "m:second", "m:third"};
    QTest::newRow("coloured notice between plain lines")
        << QStringList{"m:before", "m:<span style=\"color: lightskyblue;\">Module notice</span>", "m:after"};
    QTest::newRow("port change with its own breaks")
        << QStringList{"m:Writing page at address: 0x100",
                       "m:<span style=\"color: gold;\"><br>COM-Port has changed from COM4 to COM9<br></span>",
                       "m:Restarting module..."};
    QTest::newRow("retry marks after the last line, then a line")
        << QStringList{"m:Update completed.\n", "*", "*", "*", "m:<span style=\"color: lime;\">Update again?</span>"};
    QTest::newRow("retry marks after a coloured line")
        << QStringList{"m:<span style=\"color: crimson;\">Canceled by user</span>", "*", "*"};
    QTest::newRow("appended paragraphs") << QStringList{"m:Try to read bootloader version at id 1... (1)",
                                                        "a:to bootloader mode\n", "m:Bootloader: 1234B101",
                                                        "a:An error has occurred ", "m:next"};
    QTest::newRow("markup and entities")
        << QStringList{"m:<b>bold</b> and &lt;tag&gt; &amp; more", "m:<b>unbalanced", "m:plain again"};
    QTest::newRow("cleared at the start of an update")
        << QStringList{"m:old", "*", "clear", "m:Firmwareupdate started @COM4/M/id3", "m:Erasing..."};
}

void TestHistoryDisplay::showsWhatLineBreakInsertionShows()
{
    QFETCH(QStringList, steps);

    // The reference inserts "message<br>" at the cursor, the way the history was first described.
    QTextEdit reference;
    reference.setReadOnly(true);
    reference.setHtml(history()->toHtml());
    for (const QString& step : steps) {
        if (step.startsWith(QLatin1String("m:"))) {
            QVERIFY(invoke("handleDebugMessage", Q_ARG(QString, step.mid(2))));
            reference.insertHtml(step.mid(2) + QStringLiteral("<br>"));
            reference.moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
        } else if (step == QLatin1String("*")) {
            history()->insertPlainText(QStringLiteral("*"));
            reference.insertPlainText(QStringLiteral("*"));
        } else if (step.startsWith(QLatin1String("a:"))) {
            history()->append(step.mid(2));
            reference.append(step.mid(2));
        } else {
            history()->clear();
            reference.clear();
        }
    }
    QCOMPARE(history()->toPlainText(), reference.toPlainText());
    QCOMPARE(visibleText(history()->document()), visibleText(reference.document()));
}

void TestHistoryDisplay::consoleEcho_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("echo");
    const QByteArray prefix("void FirmwareUpdate::handleDebugMessage(QString) ");
    QTest::newRow("page-buffer page line") << "Writing page at address: 0x1f00" << QByteArray();
    QTest::newRow("lower-case w") << "writing page at address: 0x1f00" << prefix + "writing page at address: 0x1f00\r\n";
}

void TestHistoryDisplay::consoleEcho()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, echo);

    StderrCapture console;
    QVERIFY(invoke("handleDebugMessage", Q_ARG(QString, message)));
    QCOMPARE(console.text(), echo);
    // The history gets the line either way.
    const QString shown = QTextDocumentFragment::fromHtml(message).toPlainText();
    QVERIFY(history()->toPlainText().contains(shown));
    QVERIFY(history()->textCursor().atEnd());
}

void TestHistoryDisplay::newestLineStaysVisible()
{
    m_window->resize(600, 500);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    for (int line = 0; line < 300; ++line)
        QVERIFY(invoke("handleDebugMessage", Q_ARG(QString, QStringLiteral("Writing page at address: 0x%1").arg(line))));
    QCoreApplication::processEvents();
    QVERIFY(history()->verticalScrollBar()->maximum() > 0);
    QVERIFY(history()->textCursor().atEnd());
    const QRect viewport = history()->viewport()->rect();
    QTextCursor newest(history()->document()->lastBlock().previous());
    QCOMPARE(newest.block().text(), QStringLiteral("Writing page at address: 0x299"));
    QVERIFY(viewport.contains(history()->cursorRect(newest)));
    QVERIFY(viewport.contains(history()->cursorRect()));
    QVERIFY(!history()->textCursor().hasSelection());
}

void TestHistoryDisplay::clockText_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("text");
    QTest::newRow("one step") << qint64(50) << " [0:00.050]";
    QTest::newRow("61,230 ms") << qint64(61230) << " [1:01.200]";
    QTest::newRow("just under the hour") << qint64(3599999) << " [59:59.950]";
    QTest::newRow("the hour wraps") << qint64(3600000) << " [0:00.000]";
}

void TestHistoryDisplay::clockText()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, text);
    QCOMPARE(ElapsedClock::titleSuffix(elapsedMs), text);
}

void TestHistoryDisplay::elapsedTimeGoesOnlyToHostWindowTitle()
{
    const QString ownTitle = m_tool->windowTitle();
    QPushButton* cancel = m_tool->findChild<QPushButton*>(QStringLiteral("btnCancel"));
    const QString before = history()->toPlainText();
    QVERIFY(invoke("dumpElapsedTime"));
    // No update has started the clock here, so it reads zero.
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Firmware Update [0:00.000]"));
    QCOMPARE(m_tool->windowTitle(), ownTitle);
    // Below the watchdog's threshold Cancel is left as it is, either way, and the history quiet.
    QVERIFY(!cancel->isEnabled());
    cancel->setEnabled(true);
    QVERIFY(invoke("dumpElapsedTime"));
    QVERIFY(cancel->isEnabled());
    QCOMPARE(history()->toPlainText(), before);

    // Without a window the clock only watches.
    m_tool->setParent(nullptr);
    m_window->setWindowTitle(QStringLiteral("host window"));
    QVERIFY(invoke("dumpElapsedTime"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("host window"));
    m_tool->setParent(m_window);
}

QTEST_MAIN(TestHistoryDisplay)
#include "tst_historydisplay.moc"
