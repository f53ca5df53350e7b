#include "workerhost.h"

#include "bootloadercommands.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "firmwareupdaterthread.h"
#include "hostmessages.h"
#include "linkpolicy.h"
#include "linkreopen.h"
#include "modulelink.h"
#include "protocolfacts.h"
#include "updateoutcome.h"
#include "windowedwords.h"
#include "workerbridge.h"

#include <QCoreApplication>
#include <QDebug>

namespace {
// How often the shut-down looks for worker requests that wait on this thread while it joins the worker.
constexpr int WorkerJoinPollMs = 20;
// Debug lines go out under the names of the tool's slots that lead here.
constexpr const char* CloseFunction = "FirmwareUpdate::handleCloseDevice()";
constexpr const char* ReopenFunction = "FirmwareUpdate::handleReOpenDevice()";

using Protocol::ModuleState;

// What a reopen announces: the mode in the debug line and in the history, where another mode is
// named by its number.
struct ReopenAnnouncement
{
    QString debugText;
    QString historyText;
};

ReopenAnnouncement announceReopen(int moduleState)
{
    switch (static_cast<ModuleState>(moduleState)) {
    case ModuleState::Bootloader:
        return {QStringLiteral("to bootloader mode\n"), QStringLiteral("to bootloader mode\n")};
    case ModuleState::Firmware:
        return {QStringLiteral("to firmware mode\n"), QStringLiteral("to firmware mode\n")};
    case ModuleState::Ready:
        return {QStringLiteral("to ready mode\n"), QStringLiteral("to ready mode\n")};
    default:
        return {QStringLiteral("to other mode\n"), QStringLiteral("to other mode %1\n").arg(moduleState)};
    }
}
}

WorkerHost::WorkerHost(PluginHandler* pluginHandler, ToolSettings& settings, const QString& moduleKey,
                       UpdateOutcome* outcome, QObject* parent)
    : QObject(parent)
    , m_pluginHandler(pluginHandler)
    , m_settings(settings)
    , m_moduleKey(moduleKey)
    , m_worker(new FirmwareUpdaterThread)
{
    // A child of the session, so that a host finds it by its class and learns when it has left.
    m_worker->setParent(parent);
    m_worker->setOutcome(outcome);
    WorkerBridge::connect(*m_worker, *this, *this);
}

void WorkerHost::startWorker()
{
    m_workerOut = true;
    m_worker->start();
}

void WorkerHost::noteHostReport(const QString& message)
{
    if (message == QLatin1String(HostMessages::DeviceTreeReady))
        m_worker->setDeviceClosed();
}

void WorkerHost::switchToBootloader(const ModuleLink& link, const LinkPolicy& policy, bool versionKnown)
{
    if (policy.entryDataRate > 0) {
        link.handler->setDataRate(policy.entryDataRate);
        if (!versionKnown)
            m_worker->setModuleAddress(LinkPolicy::BootloaderAddress);
    } else {
        reopenDevice(int(ModuleState::Bootloader));
    }
}

void WorkerHost::resetRequests()
{
    m_requestFailure.clear();
    m_moduleAnswered = true;
}

void WorkerHost::stopWorker()
{
    if (!m_worker)
        return;
    // The outcome goes with the session; a worker that outlives it reports to nobody.
    m_worker->setOutcome(nullptr);
    m_worker->cancelUpdate();
    // Requests that the worker emits from now on find no receiver and return at once with nothing filled;
    // one it is already blocked in is waiting for this thread, which is busy here: dropping that pending
    // call releases the worker, which then meets the cancel request and ends.
    m_worker->disconnect();
    // A page of words in flight would wake the worker only through this thread's events.
    if (m_handler)
        m_handler->abandonWindowedRequests();
    if (m_inWorkerRequest) {
        // This thread is further down inside the worker's request, which the worker waits for: it can
        // only end once the caller has returned. It meets the cancel point after the erase then.
        m_worker->setParent(nullptr);
        connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
        m_worker = nullptr;
        return;
    }
    while (!m_worker->wait(WorkerJoinPollMs))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    delete m_worker;
    m_worker = nullptr;
}

QString WorkerHost::runRequest(Command* request, Command* reply)
{
    // The erase runs the event loop, in which the host may destroy the form and the session with it.
    const QPointer<WorkerHost> alive(this);
    ++m_requestsOut;
    forwardRequest(request, reply);
    if (!alive)
        return QString();
    m_requestFailure = m_handler ? m_handler->requestFailure() : QString();
    requestCameBack(reply->isValid());
    return m_requestFailure;
}

void WorkerHost::runRequestWithoutReply(Command* request)
{
    forwardRequestWithoutReply(request);
}

int WorkerHost::requestWindow()
{
    return m_handler ? m_handler->requestWindow() : 1;
}

void WorkerHost::startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done)
{
    words.carriedOut = 0;
    CommandHandlerInterface* const handler = m_handler;
    if (!handler) {
        done();
        return;
    }
    // The handler calls back on this thread, while it lives; the session may be gone by then.
    const QPointer<WorkerHost> host(this);
    ++m_requestsOut;
    handler->startWindowedRequests(words.requests, words.replies, [&words, handler, done, host](int carriedOut) {
        words.carriedOut = carriedOut;
        const bool all = carriedOut >= words.requests.size();
        words.failure = all ? QString() : handler->requestFailure();
        if (host)
            host->requestCameBack(all || words.replies.at(carriedOut)->isValid());
        done();
    });
}

void WorkerHost::requestCameBack(bool answered)
{
    --m_requestsOut;
    m_moduleAnswered = answered;
}

void WorkerHost::showProgress(const ProgressMessage& message)
{
    emit progressText(message);
}

void WorkerHost::showDebugMessage(const QString& message)
{
    emit historyLine(message);
}

void WorkerHost::showProgressBarValue(int value)
{
    emit progressValue(value);
}

void WorkerHost::showProgressBarMaximum(int maximum)
{
    emit progressMaximum(maximum);
}

void WorkerHost::showModuleVersion(const QString& version)
{
    emit moduleVersionRead(version);
}

void WorkerHost::updateCompleted(bool successful)
{
    m_workerOut = false;
    emit ended(successful);
}

void WorkerHost::closeDevice()
{
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (link.isComplete()) {
        // Only a link whose module re-enumerates when it restarts is really closed.
        if (LinkPolicy::forKind(link.kind()).reenumerates)
            link.handler->closeDevice();
        m_worker->setDeviceClosed();
    }
    qDebug() << CloseFunction << link.connection << link.module << link.handler;
}

void WorkerHost::reopenDevice(int moduleState)
{
    const ReopenAnnouncement announced = announceReopen(moduleState);
    qDebug() << ReopenFunction << announced.debugText;
    emit historyNote(announced.historyText);

    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (!link.isComplete()) {
        qDebug() << ReopenFunction << "reopen";
        m_worker->setReopenResult(false);
        return;
    }
    const LinkReopen::Result result = LinkReopen::apply(link, moduleState, m_settings, m_moduleKey);
    if (!result.note.isEmpty())
        emit historyNote(result.note);
    if (result.moduleAddress != LinkReopen::NoAddress)
        m_worker->setModuleAddress(static_cast<unsigned char>(result.moduleAddress));
    if (result.answered)
        m_worker->setReopenResult(result.opened);
}

void WorkerHost::forwardRequest(Command* request, Command* reply)
{
    if (!m_handler)
        return;
    // The erase runs long; the form shows that the module is busy, not hanging.
    if (request->command() == Bootloader::EraseCommand) {
        emit eraseRunning(true);
        // The erase keeps the event loop going, in which the host may destroy the form and the session.
        const QPointer<WorkerHost> alive(this);
        m_inWorkerRequest = true;
        m_handler->doDirectRequest(request, reply);
        if (!alive)
            return;
        m_inWorkerRequest = false;
        emit eraseRunning(false);
        return;
    }
    m_handler->doDirectRequest(request, reply);
}

void WorkerHost::forwardRequestWithoutReply(Command* request)
{
    if (m_handler)
        m_handler->doDirectRequestWithoutReply(request);
}

void WorkerHost::readFirmwareVersion(QString* version, int moduleAddress)
{
    if (m_handler)
        *version = m_handler->getFirmwareVersion(static_cast<unsigned char>(moduleAddress & 0xFF));
    // The worker has reached the module: from now on it can be cancelled safely.
    emit cancelAllowed(true);
}
