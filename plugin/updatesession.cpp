#include "updatesession.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "entryguard.h"
#include "firmwarematch.h"
#include "firmwarepool.h"
#include "firmwareupdaterthread.h"
#include "hostmessages.h"
#include "leftstateteller.h"
#include "linkpolicy.h"
#include "portchange.h"
#include "portfollower.h"
#include "protocolfacts.h"
#include "resumehint.h"
#include "timescale.h"
#include "toolsettings.h"
#include "updateoutcome.h"
#include "updatephase.h"
#include "updaterecorder.h"
#include "versiontext.h"
#include "workerhost.h"

#include <QDebug>
#include <QTimer>

namespace {
constexpr int RefreshAfterReconnectMs = 50;
constexpr int CompletionRetryMs = 300;
// After the bootloader-entry command, the module needs this long before it is asked again.
constexpr int UpdateRecallMs = 5000;
constexpr int PortChangeRecallMs = 750;
constexpr int StartFromBootloaderMs = 500;
constexpr int StartFromFirmwareMs = 5000;

constexpr const char* OutcomeName = "updateOutcome";
constexpr const char* SessionName = "updateSession";
constexpr const char* CanceledLine = "<span style=\"color: crimson;\"><br>Canceled by user<br></span>";
// Debug lines go out under the names of the tool's slots that lead here.
constexpr const char* SelectionFunction = "FirmwareUpdate::on_cmbModules_currentIndexChanged()";
constexpr const char* CompletionFunction = "FirmwareUpdate::handleUpdateCompleted()";

using Protocol::ModuleState;
using Event = UpdateSteps::Event;
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
    m_workerHost = new WorkerHost(m_pluginHandler, m_settings, m_moduleKey, m_outcome, this);
    connect(m_workerHost, &WorkerHost::progressText, this, &UpdateSession::progressText);
    connect(m_workerHost, &WorkerHost::historyLine, this, &UpdateSession::historyLine);
    connect(m_workerHost, &WorkerHost::historyNote, this, &UpdateSession::historyNote);
    connect(m_workerHost, &WorkerHost::progressValue, this, &UpdateSession::progressValue);
    connect(m_workerHost, &WorkerHost::progressMaximum, this, &UpdateSession::progressMaximum);
    connect(m_workerHost, &WorkerHost::moduleVersionRead, this, &UpdateSession::moduleVersionRead);
    connect(m_workerHost, &WorkerHost::cancelAllowed, this, &UpdateSession::cancelAllowed);
    connect(m_workerHost, &WorkerHost::eraseRunning, this, &UpdateSession::eraseRunning);
    connect(m_workerHost, &WorkerHost::ended, this, &UpdateSession::complete);
    m_leftState = new LeftStateTeller(m_pluginHandler, m_moduleKey, *m_outcome, *m_workerHost, this);
    connect(m_leftState, &LeftStateTeller::told, this, &UpdateSession::tellUser);
    connect(m_workerHost, &WorkerHost::requestReturned, m_leftState, &LeftStateTeller::noteRequestBack);
    // Every update's record, written beside the outcome; a record that cannot be kept is said here.
    auto* recorder = new UpdateRecorder(m_outcome, this);
    connect(recorder, &UpdateRecorder::unrecorded, this, &UpdateSession::tellUser);
    m_moduleAddress = LinkPolicy::BootloaderAddress;
    m_steps.move(Event::WorkerMade);
}

void UpdateSession::shutDown()
{
    if (m_workerHost)
        m_workerHost->stopWorker();
    if (m_steps.underWay())
        ModuleLink::handBack(ModuleLink::lookUp(m_pluginHandler, m_moduleKey));
    m_steps.move(Event::Ended);
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
    m_workerHost->worker()->setImage(image);
    m_workerHost->worker()->setModuleAddress(m_moduleAddress);
}

void UpdateSession::proceed(bool byUser)
{
    m_workerHost->setHandler(nullptr);
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (!link.isComplete())
        return;
    m_workerHost->setHandler(link.handler);
    ModuleLink::takeOver(link);
    // The first call of an update, or a re-call while the module switches modes (a timer, a port change).
    const bool firstCall = !m_steps.entered();
    if (firstCall)
        beginUpdate();
    const QString version = readActiveFirmware(link);
    if (firstCall ? firstCallGoesOn(link, version) : laterCallGoesOn(link, version))
        prepareWorker(link, version, byUser);
}

void UpdateSession::beginUpdate()
{
    emit historyCleared();
    m_workerHost->resetRequests();
    m_leftState->reset();
    say(QStringLiteral("Firmwareupdate started @") + m_moduleKey);
    // Asked before this update leaves a record of its own.
    m_resumeSuggested = ResumeHint::fromRecords(m_moduleKey, m_chosenFile);
    // The host's choices live on the tool's widget, this session's parent; read anew for each update.
    m_options = RunOptions::of(parent());
    emit begun();
    m_outcome->begin();
}

bool UpdateSession::firstCallGoesOn(const ModuleLink& link, const QString& version)
{
    const bool inBootloader = VersionText::namesBootloader(version);
    const LinkPolicy policy = LinkPolicy::forKind(link.kind());
    m_outcome->describe({m_moduleKey, m_chosenFile, m_image.identifier(), quint32(m_image.checksum()),
                         m_image.size(), policy.kind, version, m_options.verifyOnly, m_options.readBack});
    m_firmwareBeforeEntry = inBootloader ? QString() : version;
    if (const auto refusal = EntryGuard::refusal(m_image, m_chosenFile, m_options, version)) {
        refuseUpdate(*refusal);
        return false;
    }
    if (m_options.ifChanged && !runsChosenFirmware())
        say(QStringLiteral("The module does not run %1 (it answered \"%2\"): it is updated without reading its sums.")
                .arg(m_image.identifier(), FirmwareMatch::printable(version)));
    m_linkKind = policy.kind;
    if (inBootloader)
        return true;
    enterBootloader(link, policy, version);
    return false;
}

bool UpdateSession::laterCallGoesOn(const ModuleLink& link, const QString& version)
{
    if (!LinkPolicy::forKind(link.kind()).followsPortChange())
        return true;
    show(ProgressMessage(ProgressId::Reconnected));
    if (VersionText::namesBootloader(version))
        return true;
    // Back in its firmware after the update: hand the module back to the host.
    link.connection->setActive(true);
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    finish(true, version, Ending::OnReturn);
    return false;
}

void UpdateSession::prepareWorker(const ModuleLink& link, const QString& version, bool byUser)
{
    FirmwareUpdaterThread* worker = m_workerHost->worker();
    worker->setCommandHandler(link.handler);
    worker->setLinkKind(link.kind());
    worker->setSkipIfHeld(m_options.ifChanged && runsChosenFirmware());
    worker->setVerifyOnly(m_options.verifyOnly);
    worker->setTryResume(m_resumeSuggested || m_options.resume);
    worker->setReadBack(m_options.readBack, m_options.readBackFirst, m_options.readBackEnd);
    const bool inBootloader = VersionText::namesBootloader(version);
    if (!inBootloader && !byUser)
        return;
    scheduleWorkerStart(inBootloader);
}

QString UpdateSession::readActiveFirmware(const ModuleLink& link)
{
    const QString version = ModuleLink::askVersion(link);
    tellUser(QStringLiteral("Active firmware: (") + FirmwareMatch::printable(version) + QLatin1Char(')'));
    return version;
}

bool UpdateSession::runsChosenFirmware() const
{
    // Sums alone cannot tell a file from another that adds up the same: only a module that ran the
    // file's firmware before its bootloader entry may be left as it is.
    return m_firmwareBeforeEntry == m_image.identifier();
}

void UpdateSession::refuseUpdate(const ProgressMessage& reason)
{
    m_steps.move(Event::Refused);
    emit progressText(reason);
    tellUser(reason.english());
    m_outcome->noteStatus(reason.english());
    // Ends like a run that failed: the click that began it returns first.
    QTimer::singleShot(0, pendingUpdateSteps(), [this] { complete(false); });
}

void UpdateSession::enterBootloader(const ModuleLink& link, const LinkPolicy& policy, const QString& version)
{
    show(ProgressMessage(ProgressId::EnteringBootloader));
    m_outcome->reachPhase(UpdatePhase::Entry);
    m_bootloaderEntry.send(link.handler, m_moduleAddress);
    m_steps.move(Event::EntrySent);

    if (policy.followsPortChange()) {
        // The module restarts under another port; the port change calls the update again.
        m_workerHost->worker()->setModuleAddress(LinkPolicy::BootloaderAddress);
        show(ProgressMessage(ProgressId::Disconnecting));
        return;
    }
    recallAfter(UpdateRecallMs);
    link.module->setModuleState(int(ModuleState::BootloaderRequested));
    emit firmwareCompleted(m_moduleKey, QStringLiteral("Start fw update"));
    say(QStringLiteral("Reopen device..."));
    if (policy.entryDataRate > 0) {
        link.handler->setDataRate(policy.entryDataRate);
        if (version.isEmpty())
            m_workerHost->worker()->setModuleAddress(LinkPolicy::BootloaderAddress);
    } else {
        m_workerHost->reopenDevice(int(ModuleState::Bootloader));
    }
}

void UpdateSession::recallAfter(int delayMs)
{
    QTimer::singleShot(TimeScale::scaledMs(delayMs), pendingUpdateSteps(), [this] { proceed(false); });
}

void UpdateSession::scheduleWorkerStart(bool inBootloader)
{
    m_steps.move(Event::StartScheduled);
    QTimer::singleShot(TimeScale::scaledMs(inBootloader ? StartFromBootloaderMs : StartFromFirmwareMs),
                       pendingUpdateSteps(), [this] {
                           m_steps.move(Event::WorkerStarted);
                           m_workerHost->startWorker();
                       });
    emit workerStarting();
}

void UpdateSession::cancel()
{
    say(QLatin1String(CanceledLine));
    emit cancelAllowed(false);
    m_workerHost->worker()->cancelUpdate();
    // A cancelled update must not go on by itself: drop its re-calls and a worker start that has not
    // happened yet (the run would clear the request when it begins). Without a worker to report the
    // end, the completion is ours to give.
    const bool endsHere = m_steps.cancelEnds();
    dropPendingUpdateSteps();
    if (endsHere)
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
}

bool UpdateSession::followPorts(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old)
{
    const PortChange change = PortChange::between(actual, old);
    const PortFollower::Following following = PortFollower::follow(change, m_moduleKey, m_steps.entered(), m_linkKind);
    m_moduleKey = following.moduleKey;
    if (following.recall)
        recallAfter(PortChangeRecallMs);
    if (!following.historyLine.isEmpty())
        say(following.historyLine);
    return change.removed.isEmpty();
}

void UpdateSession::noteHostReport(const QString& message)
{
    if (message == QLatin1String(HostMessages::DeviceTreeReady) && m_workerHost)
        m_workerHost->worker()->setDeviceClosed();
}

void UpdateSession::complete(bool successful)
{
    if (!successful && m_workerHost->worker()->isCancelRequested())
        show(ProgressMessage(ProgressId::Canceled));
    m_leftState->noteEnd(!successful && m_steps.underWay());
    emit released(m_image.size() > 0);
    qDebug() << CompletionFunction << "successfull:" << successful << "actualModuleKey:" << m_moduleKey;

    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    if (!link.isComplete() && successful) {
        // The restarted module is not known to the host yet: try again until it is.
        emit historyMark(QStringLiteral("*"));
        QTimer::singleShot(TimeScale::scaledMs(CompletionRetryMs), this, [this] { complete(true); });
        return;
    }
    QString version = QLatin1String(NoVersionText);
    if (!link.isComplete()) {
        ModuleLink::handConnectionBack(m_pluginHandler, m_moduleKey);
    } else {
        version = handOver(link, successful);
        // The module restarts and re-enumerates; its return under the new port ends the update.
        if (successful && LinkPolicy::forKind(link.kind()).followsPortChange()) {
            m_steps.move(Event::RanWellAway);
            return;
        }
    }
    finish(successful, version, Ending::Here);
}

QString UpdateSession::handOver(const ModuleLink& link, bool successful)
{
    const QString version = LinkPolicy::forKind(link.kind()).handsLinkBack() ? handBackAndReport(link, successful)
                                                                             : QLatin1String(NoVersionText);
    emit activeFirmwareShown(version);
    if (successful) {
        const QString poolNote = FirmwarePool(m_settings.homePath()).keepCopy(m_chosenFile);
        if (!poolNote.isEmpty())
            tellUser(poolNote);
    }
    return version;
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

void UpdateSession::finish(bool successful, const QString& version, Ending ending)
{
    // The rebuilt list selects its first module: with several listed, that need not be this one.
    const QString updatedModuleKey = m_moduleKey;
    // The rebuild asks the selected module its version; a cancelled worker still out rebuilds as it ends.
    // A module back under its new port is given a moment to settle first.
    if (ending == Ending::OnReturn)
        QTimer::singleShot(TimeScale::scaledMs(RefreshAfterReconnectMs), this, &UpdateSession::listRebuildWanted);
    else if (!m_workerHost->workerOut())
        emit listRebuildWanted();
    // The update is over: a re-call still pending (a port that came back while the run ended) would
    // find the module in its bootloader and start a second run with the program the rebuild released.
    dropPendingUpdateSteps();
    m_steps.move(Event::Ended);
    if (ending == Ending::Here)
        emit concluded();
    reportOutcome(successful, version, updatedModuleKey);
}

void UpdateSession::reportOutcome(bool successful, const QString& version, const QString& moduleKey)
{
    const bool cancelled = m_workerHost->worker()->isCancelRequested();
    QString failure = cancelled ? ProgressMessage(ProgressId::Canceled).english() : m_outcome->lastStatus();
    // The step's fixed text says what failed; the link's reason, after it, says why.
    const QString reason = m_workerHost->requestFailure();
    if (!successful && !cancelled && !reason.isEmpty())
        failure += QStringLiteral(": ") + (reason.endsWith(QLatin1Char('.')) ? reason.chopped(1) : reason);
    const QString readBack = version == QLatin1String(NoVersionText) ? QString() : version;
    m_outcome->finish(successful, failure, moduleKey, readBack, cancelled);
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
