#include "updatesession.h"

#include "duxlmoduleinterface.h"
#include "entryguard.h"
#include "firmwarematch.h"
#include "firmwareupdaterthread.h"
#include "leftstateteller.h"
#include "linkpolicy.h"
#include "modulechoice.h"
#include "portchange.h"
#include "portfollower.h"
#include "protocolfacts.h"
#include "resumehint.h"
#include "timedsteps.h"
#include "updateend.h"
#include "toolsettings.h"
#include "updateoutcome.h"
#include "updatephase.h"
#include "updaterecorder.h"
#include "versiontext.h"
#include "workerhost.h"

#include <QDebug>

namespace {
// After the bootloader-entry command, the module needs this long before it is asked again.
constexpr int UpdateRecallMs = 5000;
constexpr int PortChangeRecallMs = 750;
constexpr int StartFromBootloaderMs = 500;
constexpr int StartFromFirmwareMs = 5000;

constexpr const char* OutcomeName = "updateOutcome";
constexpr const char* SessionName = "updateSession";
constexpr const char* CanceledLine = "<span style=\"color: crimson;\"><br>Canceled by user<br></span>";

using Protocol::ModuleState;
using Event = UpdateSteps::Event;
}

UpdateSession::UpdateSession(PluginHandler* pluginHandler, ToolSettings& settings, QObject* parent)
    : QObject(parent)
    , m_pluginHandler(pluginHandler)
    , m_settings(settings)
    , m_outcome(new UpdateOutcome(this))
    , m_timedSteps(new TimedSteps(this))
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
    m_leftState = new LeftStateTeller(m_pluginHandler, m_moduleKey, *m_outcome, *m_workerHost, this);
    connect(m_leftState, &LeftStateTeller::told, this, &UpdateSession::tellUser);
    m_end = new UpdateEnd({m_pluginHandler, m_settings, m_moduleKey, m_image, m_chosenFile, *m_outcome, *m_workerHost,
                           *m_leftState, m_steps},
                          this);
    connect(m_workerHost, &WorkerHost::ended, m_end, &UpdateEnd::complete);
    connect(m_end, &UpdateEnd::progressText, this, &UpdateSession::progressText);
    connect(m_end, &UpdateEnd::historyLine, this, &UpdateSession::historyLine);
    connect(m_end, &UpdateEnd::historyMark, this, &UpdateSession::historyMark);
    connect(m_end, &UpdateEnd::released, this, &UpdateSession::released);
    connect(m_end, &UpdateEnd::activeFirmwareShown, this, &UpdateSession::activeFirmwareShown);
    connect(m_end, &UpdateEnd::firmwareCompleted, this, &UpdateSession::firmwareCompleted);
    connect(m_end, &UpdateEnd::listRebuildWanted, this, &UpdateSession::listRebuildWanted);
    connect(m_end, &UpdateEnd::over, m_timedSteps, &TimedSteps::drop);
    connect(m_end, &UpdateEnd::concluded, this, &UpdateSession::concluded);
    // Every update's record, written beside the outcome; a record that cannot be kept is said here.
    auto* recorder = new UpdateRecorder(m_outcome, this);
    connect(recorder, &UpdateRecorder::unrecorded, this, &UpdateSession::tellUser);
    m_moduleAddress = LinkPolicy::BootloaderAddress;
    m_steps.move(Event::WorkerMade);
}

void UpdateSession::shutDown()
{
    // Nothing of the update goes on by itself: a pending refusal, re-call or start would find no worker.
    m_timedSteps->drop();
    if (m_workerHost)
        m_workerHost->stopWorker();
    if (m_steps.underWay())
        ModuleLink::handBack(ModuleLink::lookUp(m_pluginHandler, m_moduleKey));
    m_steps.move(Event::Ended);
}

ModuleChoice UpdateSession::selectModule(const QString& moduleKey)
{
    m_moduleKey = moduleKey;
    const ModuleChoice choice = ModuleChoice::of(m_pluginHandler, m_settings, moduleKey);
    if (choice.moduleAddress >= 0)
        m_moduleAddress = static_cast<unsigned char>(choice.moduleAddress);
    return choice;
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
    m_end->completeOnReturn(link, version);
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
    m_timedSteps->after(0, [this] { complete(false); });
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
    m_workerHost->switchToBootloader(link, policy, !version.isEmpty());
}

void UpdateSession::recallAfter(int delayMs)
{
    m_timedSteps->after(delayMs, [this] { proceed(false); });
}

void UpdateSession::scheduleWorkerStart(bool inBootloader)
{
    m_steps.move(Event::StartScheduled);
    m_timedSteps->after(inBootloader ? StartFromBootloaderMs : StartFromFirmwareMs, [this] {
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
    m_timedSteps->drop();
    if (endsHere)
        complete(false);
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
