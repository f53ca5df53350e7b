#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QtTest>

// The application of tests that count how an update ended. The tool's completion slot runs for the
// worker's report (a queued call from the worker thread), for Cancel and for its own retries; only
// the first kind is the run's outcome. Events are delivered through notify(), so the application
// sees when a queued call to the tool is under way, and the slot's diagnostic line tells the result.
// Debug lines are kept off the console; warnings and worse still reach it.
class WorkerReportApplication : public QApplication
{
    Q_OBJECT
public:
    WorkerReportApplication(int& argc, char** argv);
    ~WorkerReportApplication() override;

    static WorkerReportApplication* instance();

    // Counts the reports to `tool` from now on (earlier ones are forgotten).
    void watch(QObject* tool);
    // The results the worker reported, in order.
    QList<bool> reports() const { return m_reports; }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QPointer<QObject> m_tool;
    bool m_inQueuedToolCall = false;
    QList<bool> m_reports;
    QtMessageHandler m_previousHandler = nullptr;
    bool m_handlerInstalled = false;
};

// The main() of a suite that runs updates over dux-sim's wire: the window offscreen, the dialogue's own
// delays fifty times faster (reply time-outs keep their length), the reports counted.
#define DUX_WIRE_TEST_MAIN(TestObject)                \
    int main(int argc, char* argv[])                 \
    {                                                \
        qputenv("QT_QPA_PLATFORM", "offscreen");     \
        qputenv("DUX_TIME_SCALE", "0.02");           \
        WorkerReportApplication app(argc, argv);     \
        TestObject test;                             \
        return QTest::qExec(&test, argc, argv);      \
    }
