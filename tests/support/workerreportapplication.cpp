#include "workerreportapplication.h"

#include <QScopedValueRollback>
#include <QThread>

namespace {
// The completion slot's diagnostic line, followed by "true" or "false".
constexpr const char* CompletionLine = "FirmwareUpdate::handleUpdateCompleted() successfull: ";
constexpr const char* TrueText = "true";
constexpr const char* SessionName = "updateSession";
}

WorkerReportApplication::WorkerReportApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

WorkerReportApplication::~WorkerReportApplication()
{
    if (m_handlerInstalled)
        qInstallMessageHandler(m_previousHandler);
}

WorkerReportApplication* WorkerReportApplication::instance()
{
    return qobject_cast<WorkerReportApplication*>(QCoreApplication::instance());
}

void WorkerReportApplication::watch(QObject* tool)
{
    // Installed here rather than at construction: the test runner puts in its own handler when it starts.
    if (!m_handlerInstalled) {
        m_previousHandler = qInstallMessageHandler(&WorkerReportApplication::handleMessage);
        m_handlerInstalled = true;
    }
    m_tool = tool;
    m_reports.clear();
}

bool WorkerReportApplication::notify(QObject* receiver, QEvent* event)
{
    if (QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);
    // Events handled inside a queued call (the erase keeps the event loop going) are not part of it. The
    // worker's calls reach the host of the worker, a child of the tool's update session.
    const QObject* session = receiver->parent();
    const bool toSession = m_tool && session && session->parent() == m_tool
                           && session->objectName() == QLatin1String(SessionName);
    const QScopedValueRollback<bool> inside(m_inQueuedToolCall, event->type() == QEvent::MetaCall && toSession);
    return QApplication::notify(receiver, event);
}

void WorkerReportApplication::handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    WorkerReportApplication* app = instance();
    if (app && QThread::currentThread() == app->thread() && app->m_inQueuedToolCall
        && message.startsWith(QLatin1String(CompletionLine)))
        app->m_reports.append(message.midRef(int(qstrlen(CompletionLine))).startsWith(QLatin1String(TrueText)));
    if (type != QtDebugMsg && type != QtInfoMsg && app && app->m_previousHandler)
        app->m_previousHandler(type, context, message);
}
