#include "updatesession.h"

#include "bootloadercommands.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwarematch.h"
#include "firmwarepool.h"
#include "firmwareupdaterthread.h"
#include "global.h"
#include "hostmessages.h"
#include "linkpolicy.h"
#include "linkreopen.h"
#include "lowlevel.h"
#include "leftstate.h"
#include "modulekey.h"
#include "modulestatenote.h"
#include "pluginhandler.h"
#include "portchange.h"
#include "protocolfacts.h"
#include "recordwriter.h"
#include "resumehint.h"
#include "timescale.h"
#include "toolsettings.h"
#include "updateoutcome.h"
#include "updatephase.h"
#include "updaterecorder.h"
#include "windowedwords.h"
#include "versionorder.h"
#include "versiontext.h"
#include "workerbridge.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>
#include <QTimer>

namespace {
constexpr int RefreshAfterReconnectMs = 50;
constexpr int CompletionRetryMs = 300;
// After the bootloader-entry command, the module needs this long before it is asked again.
constexpr int UpdateRecallMs = 5000;
constexpr int PortChangeRecallMs = 750;
constexpr int StartFromBootloaderMs = 500;
constexpr int StartFromFirmwareMs = 5000;
// How often the shut-down looks for worker requests that wait on this thread while it joins the worker.
constexpr int WorkerJoinPollMs = 20;

constexpr const char* OutcomeName = "updateOutcome";
constexpr const char* SessionName = "updateSession";
constexpr const char* PortChangeTemplate = "<span style=\"color: gold;\"><br>COM-Port has changed from %1 to %2<br></span>";
constexpr const char* UnfollowedPortTemplate =
    "<span style=\"color: gold;\"><br>Port %1 appeared during the update and is ignored: only a module on a USB link "
    "comes back under a new port; the update stays on %2.<br></span>";
constexpr const char* CanceledLine = "<span style=\"color: crimson;\"><br>Canceled by user<br></span>";
// Debug lines go out under the names of the tool's slots that lead here.
constexpr const char* SelectionFunction = "FirmwareUpdate::on_cmbModules_currentIndexChanged()";
constexpr const char* PortsFunction = "FirmwareUpdate::handleUSBDevices()";
constexpr const char* CompletionFunction = "FirmwareUpdate::handleUpdateCompleted()";
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

UpdateSession::UpdateSession(PluginHandler* pluginHandler, ToolSettings& settings, QObject* parent)
    : QObject(parent)
    , m_pluginHandler(pluginHandler)
    , m_settings(settings)
    , m_outcome(new UpdateOutcome(this))
{
    setObjectName(QLatin1String(SessionName));
    m_outcome->setObjectName(QLatin1String(OutcomeName));
}

UpdateSession::~UpdateSession()
{
    shutDown();
}

void UpdateSession::createWorker()
{
    m_worker = new FirmwareUpdaterThread;
    // A child, so that a host finds it by its class and learns when it has left.
    m_worker->setParent(this);
    m_worker->setOutcome(m_outcome);
    // Every update's record, written beside the outcome; a record that cannot be kept is said here.
    auto* recorder = new UpdateRecorder(m_outcome, this);
    connect(recorder, &UpdateRecorder::unrecorded, this, &UpdateSession::tellUser);
    m_moduleAddress = LinkPolicy::BootloaderAddress;
    connectWorker();
    m_state = State::Idle;
}

void UpdateSession::connectWorker()
{
    WorkerBridge::connect(*m_worker, *this, *this);
}

QString UpdateSession::runRequest(Command* request, Command* reply)
{
    // The erase runs the event loop, in which the host may destroy the form and this session with it.
    const QPointer<UpdateSession> alive(this);
    ++m_requestsOut;
    forwardRequest(request, reply);
    if (!alive)
        return QString();
    m_requestFailure = m_handler ? m_handler->requestFailure() : QString();
    requestCameBack(reply->isValid());
    return m_requestFailure;
}

void UpdateSession::runRequestWithoutReply(Command* request)
{
    forwardRequestWithoutReply(request);
}

int UpdateSession::requestWindow()
{
    return m_handler ? m_handler->requestWindow() : 1;
}

void UpdateSession::startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done)
{
    words.carriedOut = 0;
    CommandHandlerInterface* const handler = m_handler;
    if (!handler) {
        done();
        return;
    }
    // The handler calls back on this thread, while it lives; the session may be gone by then.
    const QPointer<UpdateSession> session(this);
    ++m_requestsOut;
    handler->startWindowedRequests(words.requests, words.replies, [&words, handler, done, session](int carriedOut) {
        words.carriedOut = carriedOut;
        const bool all = carriedOut >= words.requests.size();
        words.failure = all ? QString() : handler->requestFailure();
        if (session)
            session->requestCameBack(all || words.replies.at(carriedOut)->isValid());
        done();
    });
}

void UpdateSession::showProgress(const ProgressMessage& message)
{
    emit progressText(message);
}

void UpdateSession::showDebugMessage(const QString& message)
{
    emit historyLine(message);
}

void UpdateSession::showProgressBarValue(int value)
{
    emit progressValue(value);
}

void UpdateSession::showProgressBarMaximum(int maximum)
{
    emit progressMaximum(maximum);
}

void UpdateSession::showModuleVersion(const QString& version)
{
    emit moduleVersionRead(version);
}

void UpdateSession::updateCompleted(bool successful)
{
    m_workerOut = false;
    complete(successful);
}

void UpdateSession::shutDown()
{
    if (m_worker)
        stopWorker();
    if (m_underWay)
        ModuleLink::handBack(ModuleLink::lookUp(m_pluginHandler, m_moduleKey));
    m_underWay = false;
}

void UpdateSession::stopWorker()
{
    // The outcome goes with this session; a worker that outlives it reports to nobody.
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

UpdateSession::Selection UpdateSession::selectModule(const QString& moduleKey)
{
    m_moduleKey = moduleKey;
    Selection selection;
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, moduleKey);
    if (!link.isComplete())
        return selection;
    m_moduleAddress = link.module->moduleAddress();
    selection.moduleName = link.module->moduleName();
    if (!link.handler->isDeviceOpen()) {
        qDebug() << SelectionFunction << "device not open!";
        return selection;
    }
    selection.deviceOpen = true;
    selection.version = link.handler->getFirmwareVersion(link.module->moduleAddress());
    qDebug() << SelectionFunction << "firmware version:" << selection.version;
    // Only a module running its firmware tells the rate and address it is used with.
    if (VersionText::namesFirmware(selection.version))
        selection.linkRemembered = m_settings.rememberLink(link.connection, link.module, link.handler->dataRate());
    return selection;
}

DUXLModuleInterface* UpdateSession::selectedModule() const
{
    return ModuleLink::lookUp(m_pluginHandler, m_moduleKey).module;
}

void UpdateSession::setImage(const FirmwareImage& image)
{
    m_image = image;
    m_worker->setImage(image);
    m_worker->setModuleAddress(m_moduleAddress);
}

void UpdateSession::proceed(bool byUser)
{
    m_handler = nullptr;
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (!link.isComplete())
        return;
    m_handler = link.handler;
    ModuleLink::takeOver(link);

    // Three situations: the first call of an update, a re-call while the module switches modes (a
    // timer, a port change), and the start of the worker once the module is in its bootloader.
    if (m_state == State::Idle)
        beginUpdate();
    const QString version = readActiveFirmware(link);
    const bool inBootloader = VersionText::namesBootloader(version);
    const LinkPolicy policy = LinkPolicy::forKind(link.kind());
    if (m_state == State::Updating) {
        if (policy.followsPortChange())
            continueAfterPortChange(link, version);
    } else {
        m_outcome->describe({m_moduleKey, m_chosenFile, m_image.identifier(), quint32(m_image.checksum()),
                             m_image.size(), policy.kind, version, m_options.verifyOnly, m_options.readBack});
        m_firmwareBeforeEntry = inBootloader ? QString() : version;
        const std::optional<ProgressMessage> refusal = refusalBeforeEntry(version);
        if (refusal) {
            refuseUpdate(*refusal);
            return;
        }
        if (m_options.ifChanged && !runsChosenFirmware())
            say(QStringLiteral("The module does not run %1 (it answered \"%2\"): it is updated without reading its sums.")
                    .arg(m_image.identifier(), FirmwareMatch::printable(version)));
        m_linkKind = policy.kind;
        if (!inBootloader) {
            enterBootloader(link, policy, version);
            return;
        }
    }

    m_worker->setCommandHandler(m_handler);
    m_worker->setLinkKind(policy.kind);
    m_worker->setSkipIfHeld(m_options.ifChanged && runsChosenFirmware());
    m_worker->setVerifyOnly(m_options.verifyOnly);
    m_worker->setTryResume(m_resumeSuggested || m_options.resume);
    m_worker->setReadBack(m_options.readBack, m_options.readBackFirst, m_options.readBackEnd);
    if (!inBootloader && !byUser)
        return;
    scheduleWorkerStart(inBootloader);
}

void UpdateSession::beginUpdate()
{
    emit historyCleared();
    m_requestFailure.clear();
    m_moduleAnswered = true;
    m_stateOwed = false;
    say(QStringLiteral("Firmwareupdate started @") + m_moduleKey);
    // Asked before this update leaves a record of its own.
    m_resumeSuggested = ResumeHint::fromRecords(m_moduleKey, m_chosenFile);
    // The host's choices live on the tool's widget, this session's parent; read anew for each update.
    m_options = RunOptions::of(parent());
    emit begun();
    m_underWay = true;
    m_outcome->begin();
}

QString UpdateSession::askVersion(const ModuleLink& link)
{
    // A module whose address is unknown to its bootloader still answers at address 1.
    const QPointer<UpdateSession> alive(this);
    const QPointer<CommandHandlerInterface> handler(link.handler);
    const unsigned char address = link.module->moduleAddress();
    QString version = handler->getFirmwareVersion(address);
    if (alive && handler && version.isEmpty() && address != LinkPolicy::BootloaderAddress)
        version = handler->getFirmwareVersion(LinkPolicy::BootloaderAddress);
    return version;
}

QString UpdateSession::readActiveFirmware(const ModuleLink& link)
{
    const QString version = askVersion(link);
    tellUser(QStringLiteral("Active firmware: (") + FirmwareMatch::printable(version) + QLatin1Char(')'));
    return version;
}

bool UpdateSession::runsChosenFirmware() const
{
    // Sums alone cannot tell a file from another that adds up the same: only a module that ran the
    // file's firmware before its bootloader entry may be left as it is.
    return m_firmwareBeforeEntry == m_image.identifier();
}

std::optional<ProgressMessage> UpdateSession::refusalBeforeEntry(const QString& version) const
{
    if (m_image.size() == 0) {
        return m_image.problem().isEmpty() ? ProgressMessage(ProgressId::NoFirmware)
                                           : ProgressMessage(ProgressId::NoFirmwareBecause, {m_image.problem()});
    }
    if (!m_image.problem().isEmpty())
        return ProgressMessage(ProgressId::FileNotWritten, {m_image.problem()});
    // A module in its bootloader is checked by the worker, which reads the bootloader's own answer.
    if (!version.isEmpty() && !VersionText::namesBootloader(version) && !FirmwareMatch::suits(version, m_image.identifier()))
        return FirmwareMatch::verdict(version, m_image.identifier(), false);
    if (m_options.ifNewer && VersionOrder::fileAgainstModule(m_image.identifier(), version) != VersionOrder::Verdict::Newer)
        return ProgressMessage(ProgressId::NotNewer, {FirmwareMatch::printable(version), m_image.identifier()});
    const QString expected = m_options.expectedSha256.toLower();
    const QString sha256 = expected.isEmpty() ? QString() : RecordWriter::fileSha256(m_chosenFile);
    if (sha256 != expected)
        return ProgressMessage(ProgressId::UnexpectedSha256, {sha256, expected});
    return std::nullopt;
}

void UpdateSession::refuseUpdate(const ProgressMessage& reason)
{
    emit progressText(reason);
    tellUser(reason.english());
    m_outcome->noteStatus(reason.english());
    // Ends like a run that failed: the click that began it returns first.
    QTimer::singleShot(0, pendingUpdateSteps(), [this] { complete(false); });
}

void UpdateSession::continueAfterPortChange(const ModuleLink& link, const QString& version)
{
    show(ProgressMessage(ProgressId::Reconnected));
    if (VersionText::namesBootloader(version))
        return;
    // Back in its firmware after the update: hand the module back to the host.
    QTimer::singleShot(TimeScale::scaledMs(RefreshAfterReconnectMs), this, &UpdateSession::listRebuildWanted);
    link.connection->setActive(true);
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    m_state = State::Idle;
    reportOutcome(true, version, m_moduleKey);
}

void UpdateSession::enterBootloader(const ModuleLink& link, const LinkPolicy& policy, const QString& version)
{
    show(ProgressMessage(ProgressId::EnteringBootloader));
    m_outcome->reachPhase(UpdatePhase::Entry);
    m_bootloaderEntry.send(m_handler, m_moduleAddress);
    m_state = State::Updating;

    if (policy.followsPortChange()) {
        // The module restarts under another port; the port change calls the update again.
        m_worker->setModuleAddress(LinkPolicy::BootloaderAddress);
        show(ProgressMessage(ProgressId::Disconnecting));
        return;
    }
    recallAfter(UpdateRecallMs);
    link.module->setModuleState(int(ModuleState::BootloaderRequested));
    emit firmwareCompleted(m_moduleKey, QStringLiteral("Start fw update"));
    say(QStringLiteral("Reopen device..."));
    if (policy.entryDataRate > 0) {
        m_handler->setDataRate(policy.entryDataRate);
        if (version.isEmpty())
            m_worker->setModuleAddress(LinkPolicy::BootloaderAddress);
    } else {
        reopenDevice(int(ModuleState::Bootloader));
    }
}

void UpdateSession::recallAfter(int delayMs)
{
    QTimer::singleShot(TimeScale::scaledMs(delayMs), pendingUpdateSteps(), [this] { proceed(false); });
}

void UpdateSession::scheduleWorkerStart(bool inBootloader)
{
    m_workerStartPending = true;
    QTimer::singleShot(TimeScale::scaledMs(inBootloader ? StartFromBootloaderMs : StartFromFirmwareMs),
                       pendingUpdateSteps(), [this] {
                           m_workerStartPending = false;
                           m_workerOut = true;
                           m_worker->start();
                       });
    emit workerStarting();
}

void UpdateSession::cancel()
{
    say(QLatin1String(CanceledLine));
    emit cancelAllowed(false);
    m_worker->cancelUpdate();
    // A cancelled update must not go on by itself: drop its re-calls and a worker start that has not
    // happened yet (the run would clear the request when it begins). Without a worker to report the
    // end, the completion is ours to give.
    const bool startWasPending = m_workerStartPending;
    dropPendingUpdateSteps();
    if (m_state != State::Idle || startWasPending)
        complete(false);
}

QObject* UpdateSession::pendingUpdateSteps()
{
    if (!m_pendingSteps)
        m_pendingSteps = new QObject(this);
    return m_pendingSteps;
}

void UpdateSession::dropPendingUpdateSteps()
{
    delete m_pendingSteps;
    m_pendingSteps = nullptr;
    m_workerStartPending = false;
}

bool UpdateSession::followPorts(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old)
{
    const PortChange change = PortChange::between(actual, old);
    qDebug() << PortsFunction << change.present << change.old << change.removed;

    QString message = QLatin1String(PortChangeTemplate);
    const bool portAppearedInUpdate = !change.added.isEmpty() && m_state == State::Updating;
    // On other links a new port is another device (a USB stick, an adapter): taking it would lose the module.
    if (portAppearedInUpdate && !LinkPolicy::forKind(m_linkKind).followsPortChange()) {
        say(QString::fromLatin1(UnfollowedPortTemplate)
                .arg(change.added.join(QStringLiteral(", ")).toHtmlEscaped(),
                     ModuleKey(m_moduleKey).port().toHtmlEscaped()));
    } else if (portAppearedInUpdate) {
        // A module switched to or from its bootloader re-enumerates under another port: follow it.
        const QString newPort = change.added.first();
        if (!m_moduleKey.startsWith(newPort)) {
            const QString oldPort = ModuleKey(m_moduleKey).port();
            m_moduleKey = PortChange::rekeyed(m_moduleKey, newPort);
            message = message.arg(oldPort, newPort);
        }
        recallAfter(PortChangeRecallMs);
        qCDebug(debLowLevel) << PortsFunction << change.added << m_moduleKey << "\r\n" << m_underWay << int(m_state);
    }
    if (!message.contains(QLatin1Char('%')))
        say(message);
    return change.removed.isEmpty();
}

void UpdateSession::noteHostReport(const QString& message)
{
    if (message == QLatin1String(HostMessages::DeviceTreeReady) && m_worker)
        m_worker->setDeviceClosed();
}

void UpdateSession::complete(bool successful)
{
    if (!successful && m_worker->isCancelRequested()) {
        show(ProgressMessage(ProgressId::Canceled));
    }
    // Cancel and the worker may both end an update: the first end owes what it left on the module. It is
    // said once the worker has ended too: while the question waits, the worker's own requests and the
    // list's version question would meet a busy link.
    if (!successful && m_underWay)
        m_stateOwed = true;
    if (m_stateOwed && linkOursToAsk()) {
        m_stateOwed = false;
        tellModuleState();
    }
    m_underWay = false;
    emit released(m_image.size() > 0);
    QString version = QLatin1String(NoVersionText);
    qDebug() << CompletionFunction << "successfull:" << successful << "actualModuleKey:" << m_moduleKey;

    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (link.isComplete()) {
        const LinkPolicy policy = LinkPolicy::forKind(link.kind());
        if (policy.handsLinkBack())
            version = handBackAndReport(link, successful);
        emit activeFirmwareShown(version);
        if (successful) {
            const QString poolNote = FirmwarePool(m_settings.homePath()).keepCopy(m_chosenFile);
            if (!poolNote.isEmpty())
                tellUser(poolNote);
            // The module restarts and re-enumerates; the port change finishes when it is back.
            if (policy.followsPortChange())
                return;
        }
    } else if (successful) {
        // The restarted module is not known to the host yet: try again until it is.
        emit historyMark(QStringLiteral("*"));
        QTimer::singleShot(TimeScale::scaledMs(CompletionRetryMs), this, [this] { complete(true); });
        return;
    } else {
        handConnectionBack();
    }

    // The rebuilt list selects its first module: with several listed, that need not be this one.
    const QString updatedModuleKey = m_moduleKey;
    // The rebuild asks the selected module its version; a cancelled worker still out rebuilds as it ends.
    if (!m_workerOut)
        emit listRebuildWanted();
    // The update is over: a re-call still pending (a port that came back while the run ended) would
    // find the module in its bootloader and start a second run with the program the rebuild released.
    dropPendingUpdateSteps();
    m_state = State::Idle;
    emit concluded();
    reportOutcome(successful, version, updatedModuleKey);
}

void UpdateSession::requestCameBack(bool answered)
{
    --m_requestsOut;
    m_moduleAnswered = answered;
    // Asked from the event loop: the handler that calls back here still counts its requests as waiting.
    if (m_stateOwed && linkOursToAsk()) {
        m_stateOwed = false;
        QTimer::singleShot(0, this, &UpdateSession::tellModuleState);
    }
}

bool UpdateSession::linkOursToAsk() const
{
    return m_requestsOut == 0 && !m_workerOut;
}

void UpdateSession::tellModuleState()
{
    const UpdateOutcome::Report report = m_outcome->progressReport();
    if (report.phase.isEmpty())
        return;
    // The module is asked where it is now, as dux-host asks it: a module whose last request went
    // unanswered is not asked again.
    const QPointer<UpdateSession> alive(this);
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    const bool askable = m_moduleAnswered && link.isComplete() && link.handler->isDeviceOpen();
    const QString answer = askable ? askVersion(link) : QString();
    if (!alive)
        return;
    const bool erases = !(report.subject.verifyOnly || report.subject.readBack || report.skipped);
    const ModuleStateNote state = ModuleStateNote::of(LeftStates::after(report.phase, erases, answer), answer);
    tellUser(state.text);
    // The host's module lists still show the firmware the module ran before.
    if (state.inBootloader && m_pluginHandler)
        m_pluginHandler->noteModuleVersion(m_moduleKey, answer);
}

QString UpdateSession::handBackAndReport(const ModuleLink& link, bool successful)
{
    ModuleLink::handBack(link);
    QString version = QLatin1String(NoVersionText);
    QString reportedKey;
    if (successful) {
        version = link.handler->getFirmwareVersion(link.module->moduleAddress());
        reportedKey = link.module->key();
    }
    emit firmwareCompleted(reportedKey, successful ? QStringLiteral("true") : QStringLiteral("false"));
    return version;
}

void UpdateSession::handConnectionBack()
{
    DUXLConnectionInterface* connection =
        m_pluginHandler->getConnectionPlugin(m_pluginHandler->connectionKey(m_moduleKey));
    if (connection) {
        if (LinkPolicy::forKind(connection->interfaceType()).handsLinkBack()) {
            connection->setEnabled(true);
            connection->setActive(true);
        }
    } else if (Global::instance(false)->internal()) {
        qCritical() << "no Connection Plugin";
    }
}

void UpdateSession::reportOutcome(bool successful, const QString& version, const QString& moduleKey)
{
    const bool cancelled = m_worker->isCancelRequested();
    QString failure = cancelled ? ProgressMessage(ProgressId::Canceled).english() : m_outcome->lastStatus();
    // The step's fixed text says what failed; the link's reason, after it, says why.
    if (!successful && !cancelled && !m_requestFailure.isEmpty())
        failure += QStringLiteral(": ") + (m_requestFailure.endsWith(QLatin1Char('.')) ? m_requestFailure.chopped(1) : m_requestFailure);
    const QString readBack = version == QLatin1String(NoVersionText) ? QString() : version;
    m_outcome->finish(successful, failure, moduleKey, readBack, cancelled);
}

void UpdateSession::closeDevice()
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

void UpdateSession::reopenDevice(int moduleState)
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

void UpdateSession::forwardRequest(Command* request, Command* reply)
{
    if (!m_handler)
        return;
    // The erase runs long; the form shows that the module is busy, not hanging.
    if (request->command() == Bootloader::EraseCommand) {
        emit eraseRunning(true);
        // The erase keeps the event loop going, in which the host may destroy the form and this session.
        const QPointer<UpdateSession> alive(this);
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

void UpdateSession::forwardRequestWithoutReply(Command* request)
{
    if (m_handler)
        m_handler->doDirectRequestWithoutReply(request);
}

void UpdateSession::readFirmwareVersion(QString* version, int moduleAddress)
{
    if (m_handler)
        *version = m_handler->getFirmwareVersion(static_cast<unsigned char>(moduleAddress & 0xFF));
    // The worker has reached the module: from now on it can be cancelled safely.
    emit cancelAllowed(true);
}

void UpdateSession::tellUser(const QString& text)
{
    say(text.toHtmlEscaped());
}

void UpdateSession::say(const QString& text)
{
    emit historyLine(text);
}

void UpdateSession::show(const ProgressMessage& message)
{
    emit progressText(message);
    say(message.english());
}
