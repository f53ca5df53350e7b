#include "updaterun.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlframe.h"
#include "duxlmoduleinterface.h"
#include "firmwarematch.h"
#include "intelhexparser.h"
#include "linkpolicy.h"
#include "moduleclash.h"
#include "modulediscovery.h"
#include "modulekey.h"
#include "moduleupdate.h"
#include "pluginhandler.h"
#include "runrecorder.h"
#include "runteller.h"
#include "serialcommandhandler.h"
#include "timescale.h"
#include "updatesummary.h"
#include "versionorder.h"
#include "versiontext.h"
#include "bootloadercommands.h"
#include "commandhandlerinterface.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int MsPerSecond = 1000;
// Modules not found yet are looked for again this often until the time-out.
constexpr int SearchAgainMs = 1000;
// A flash word on the line: its request and its reply, each framed.
constexpr int WordLineBytes = DuxlFrame::HeaderBytes + DuxlFrame::CommandRequestBodyBytes + DuxlFrame::CrcBytes
    + DuxlFrame::HeaderBytes + DuxlFrame::CommandReplyBodyBytes + DuxlFrame::CrcBytes;
constexpr qint64 NsPerMs = 1000000;
// An ended update whose worker has not started is given this long for it to start before its instance goes.
constexpr int UnstartedWorkerBoundMs = 150;
// The plug-in ends an update on a cancel before its worker has left, and the worker's last requests
// still go out on the module's link (a page of words, a word's retry, the page command after it),
// which would refuse a question asked meanwhile: the module's state is asked once the worker is gone,
// looked at this often, and given up after the write phase's reply time-out (5000 ms) and a margin.
constexpr int StateQuestionPollMs = 20;
constexpr int StateQuestionWaitMs = 5500;

// An update that had not ended when the run was cut short by `outcome` at `elapsedMs`.
void cutShort(UpdateResult* result, UpdateResult::Result outcome, qint64 elapsedMs)
{
    result->result = outcome;
    result->durationMs = elapsedMs;
    result->failureText = outcome == UpdateResult::Result::TimedOut
        ? result->timedOutText()
        : QStringLiteral("interrupted; the module did not answer the cancel in time");
}

CommandHandlerInterface* linkOf(PluginHandler& handler, const QString& key)
{
    DUXLModuleInterface* module = handler.getModulePlugin(key);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    return connection ? connection->commandHandler() : nullptr;
}

// What the module answers on the host's link once its update has handed the link back; empty when it is
// not listed any more (its port went), its link is closed, or it does not answer.
QString askVersion(PluginHandler& handler, const QString& key)
{
    CommandHandlerInterface* link = linkOf(handler, key);
    if (!link || !link->isDeviceOpen())
        return QString();
    return link->getFirmwareVersion(handler.getModulePlugin(key)->moduleAddress());
}

// A port is known by its device's last path part: "5" of a pty given as /dev/pts/5 says nothing, the
// path the user gave does.
QString givenPortName(const QString& port, const HostOptions& options)
{
    for (const QString& given : options.serialPorts + options.usbPorts) {
        if (QFileInfo(given).fileName() == port)
            return given;
    }
    return port;
}

QString listText(const QStringList& keys)
{
    return keys.isEmpty() ? QStringLiteral("none") : keys.join(QStringLiteral(", "));
}

}

UpdateRun::UpdateRun(const HostOptions& options, const Host& host, const QString& fileIdentifier, int fileBytes,
                     RunTeller* teller, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_host(host)
    , m_fileIdentifier(fileIdentifier)
    , m_fileBytes(fileBytes)
    , m_teller(teller)
{
    m_clock.start();
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(SearchAgainMs);
    connect(&m_searchTimer, &QTimer::timeout, this, [this] {
        ++m_searches;
        m_host.discovery->rescan();
        tryToStart();
    });
    m_endWait.setSingleShot(true);
    connect(&m_endWait, &QTimer::timeout, this, &UpdateRun::finish);
}

UpdateRun::~UpdateRun() = default;

qint64 UpdateRun::lineWriteMs(qint64 bytes, int dataRate)
{
    return SerialCommandHandler::lineNsAt(bytes / Bootloader::WordBytes * WordLineBytes, dataRate) / NsPerMs;
}

QString UpdateRun::searchedText(const ModuleDiscovery& discovery, const HostOptions& options, int searches,
                                qint64 elapsedMs)
{
    QStringList ports;
    for (const QString& port : discovery.portNames())
        ports.append(givenPortName(port, options));
    if (ports.isEmpty() && options.serialPorts.isEmpty() && options.usbPorts.isEmpty() && options.portFiles.isEmpty())
        return QStringLiteral("no module found: no serial port found (give --port, --usb-port or --port-file)");
    if (ports.isEmpty())
        return QStringLiteral("no module found: none of the given ports is present");
    QStringList addresses;
    for (unsigned char address : discovery.probeAddresses())
        addresses.append(QString::number(address));
    return QStringLiteral("no module found on %1 at %2 baud, addresses %3, waiting %4 ms for each (searched %5 %6 in %7 s)")
        .arg(ports.join(QStringLiteral(", ")))
        .arg(discovery.dataRate())
        .arg(addresses.join(QStringLiteral(", ")))
        .arg(discovery.probeTimeoutMs())
        .arg(searches + 1)
        .arg(searches == 0 ? QStringLiteral("time") : QStringLiteral("times"))
        .arg(elapsedMs / MsPerSecond);
}

void UpdateRun::start()
{
    if (!m_options.watch) {
        tryToStart();
        return;
    }
    m_refusal = clashOf({});
    if (!m_refusal.isEmpty()) {
        endNotStarted(UpdateResult::Result::NotStarted);
        return;
    }
    m_teller->watching();
    // Queued: the register reports from inside the discovery's search, which must not run again
    // from the nested waits of what is started here.
    connect(m_host.handler, &PluginHandler::modulePluginAdded, this, &UpdateRun::appeared, Qt::QueuedConnection);
    connect(m_host.handler, &PluginHandler::modulePluginRemoved, this, &UpdateRun::gone);
    for (const QString& key : m_host.handler->getModulePluginKeys(true))
        appeared(key);
}

QString UpdateRun::clashOf(const QStringList& keys) const
{
    return ModuleClash::of(*m_host.discovery, *m_host.handler, keys);
}

QStringList UpdateRun::chooseModules()
{
    QStringList keys = listedChoice();
    if (keys.isEmpty())
        return keys;
    m_refusal = clashOf(keys);
    if (m_refusal.isEmpty())
        return keys;
    m_refusalFinal = true;
    return {};
}

QStringList UpdateRun::listedChoice()
{
    const QStringList listed = m_host.handler->getModulePluginKeys(true);
    m_refusalFinal = !listed.isEmpty();
    if (listed.isEmpty()) {
        m_refusal = searchedText(*m_host.discovery, m_options, m_searches, m_host.searchedMs + m_clock.elapsed());
        return {};
    }
    if (m_options.allModules)
        return listed;
    if (m_options.moduleKeys.isEmpty()) {
        if (listed.size() == 1)
            return listed;
        m_refusal = QStringLiteral("%1 modules found (%2): choose one with --module").arg(listed.size()).arg(listText(listed));
        return {};
    }
    QStringList missing;
    for (const QString& key : m_options.moduleKeys) {
        if (!listed.contains(key))
            missing.append(key);
    }
    if (missing.isEmpty())
        return m_options.moduleKeys;
    m_refusal = missing.size() == 1
        ? QStringLiteral("module %1 is not listed (found: %2)").arg(missing.first(), listText(listed))
        : QStringLiteral("modules %1 are not listed (found: %2)").arg(listText(missing), listText(listed));
    return {};
}

void UpdateRun::tryToStart()
{
    const QStringList keys = chooseModules();
    if (keys.isEmpty()) {
        // A module that is not listed while others are is a wrong key, not a slow search; with a window
        // the user looks again.
        if (m_refusalFinal || m_options.wantsWindow()) {
            endNotStarted(UpdateResult::Result::NotStarted);
            return;
        }
        if (m_searches == 0)
            m_teller->searching(m_refusal);
        m_searchTimer.start();
        keepSnapshot();
        return;
    }
    m_started = true;
    if (m_options.dryRun)
        plan(keys);
    else
        startUpdates(keys);
}

UpdateResult UpdateRun::baseResult(const QString& key) const
{
    UpdateResult result;
    result.startedUtc = QDateTime::currentDateTimeUtc();
    result.moduleKey = key;
    result.fileName = m_options.fileName;
    result.fileIdentifier = m_fileIdentifier;
    result.timeoutSeconds = m_options.timeoutSeconds;
    return result;
}

void UpdateRun::plan(const QStringList& keys)
{
    for (const QString& key : keys) {
        UpdateResult result = baseResult(key);
        DUXLModuleInterface* module = m_host.handler->getModulePlugin(key);
        result.firmwareBefore = module ? module->firmwareVersion() : QString();
        if (!FirmwareMatch::suits(result.firmwareBefore, m_fileIdentifier)) {
            result.failureText = FirmwareMatch::verdict(result.firmwareBefore, m_fileIdentifier, false).english();
        } else {
            result.result = UpdateResult::Result::Planned;
            result.bytes = m_fileBytes;
            result.estimatedMs = lineWriteMs(m_fileBytes, m_host.discovery->dataRate());
        }
        m_results.append(result);
    }
    finish();
}

ModuleUpdate* UpdateRun::launch(const QString& key)
{
    m_launching = key;
    keepSnapshot();
    m_running.push_back(std::make_unique<ModuleUpdate>(m_host.plugin, m_host.handler, m_host.window, key,
                                                       m_options.fileName, m_teller->lines(), m_teller->printsHistory()));
    ModuleUpdate* update = m_running.back().get();
    update->setCancelBound(m_options.timeoutSeconds);
    if (!m_options.screenshotPath.isEmpty())
        update->setScreenshot(m_options.screenshotPath, m_options.screenshotPercent);
    // Nobody sees them (several run headless only), and drawing every module's window at each word took
    // a quarter of the thread that serves all the lines (32 at once); a screenshot draws its own picture.
    if (m_options.updatesSideBySide())
        update->hideWindow();
    connect(update, &ModuleUpdate::ended, this, [this, update](const UpdateResult& result) { updateEnded(update, result); });
    // The watchdog may have to tell how far each update got.
    connect(update, &ModuleUpdate::phaseChanged, this, &UpdateRun::keepSnapshot);
    connect(update, &ModuleUpdate::progressed, this, [this, update] { keepProgressOf(update); });
    m_teller->updateAdded(update);
    // Its start may hold the event loop too (the plug-in reads the module's version again).
    m_launching.clear();
    keepSnapshot();
    return update;
}

void UpdateRun::startUpdates(const QStringList& keys)
{
    std::vector<ModuleUpdate*> updates;
    for (int position = 0; position < keys.size(); ++position) {
        if (refusedAsNotNewer(keys.at(position))) {
            m_resultPositions.append(position);
            continue;
        }
        updates.push_back(launch(keys.at(position)));
        m_positions.insert(updates.back(), position);
    }
    // All are set up before the first starts, so that they start together.
    for (ModuleUpdate* update : updates)
        startOne(update);
    keepSnapshot();
    if (m_running.empty())
        finish();
}

bool UpdateRun::refusedAsNotNewer(const QString& key)
{
    if (!m_options.ifNewer)
        return false;
    DUXLModuleInterface* module = m_host.handler->getModulePlugin(key);
    const QString version = module ? module->firmwareVersion() : QString();
    const VersionOrder::Verdict verdict = VersionOrder::fileAgainstModule(m_fileIdentifier, version);
    if (verdict == VersionOrder::Verdict::Newer)
        return false;
    UpdateResult refused = baseResult(key);
    refused.firmwareBefore = version;
    refused.failureText = verdict == VersionOrder::Verdict::NotNewer
        ? QStringLiteral("its firmware %1 is not older than the file's %2 (--if-newer)").arg(version, m_fileIdentifier)
        : QStringLiteral("the order of its firmware %1 and the file's %2 is not known (--if-newer)").arg(version, m_fileIdentifier);
    m_results.append(refused);
    m_host.recorder->record(refused);
    if (m_options.watch)
        m_teller->moduleEnded(refused);
    return true;
}

bool UpdateRun::retried(ModuleUpdate* update, const UpdateResult& ended)
{
    const int attempt = m_attempts.value(ended.moduleKey, 1);
    if (!ended.failed() || m_stopping || attempt > m_options.retries)
        return false;
    m_attempts.insert(ended.moduleKey, attempt + 1);
    m_teller->retrying(ended, attempt + 1, m_options.retries + 1);
    ModuleUpdate* again = launch(ended.moduleKey);
    m_positions.insert(again, m_positions.value(update, m_results.size()));
    if (m_options.watch)
        again->setTimeout(m_options.timeoutSeconds);
    startOne(again);
    return true;
}

void UpdateRun::startOne(ModuleUpdate* update)
{
    if (update->start() == UpdateDriver::StartResult::Started)
        return;
    // The plug-in's update never began: it has nothing on record.
    m_host.recorder->record(update->result());
    updateEnded(update, update->result());
}

void UpdateRun::appeared(const QString& key)
{
    if (m_stopping || m_handled.contains(key) || m_waiting.contains(key))
        return;
    m_waiting.append(key);
    startWaiting();
}

void UpdateRun::gone(const QString& key)
{
    m_handled.remove(key);
    m_waiting.removeAll(key);
}

bool UpdateRun::reenumerates(const QString& key) const
{
    return ModuleClash::reenumerates(*m_host.handler, key);
}

bool UpdateRun::reenumeratingUpdateRunning() const
{
    return std::any_of(m_running.begin(), m_running.end(),
                       [this](const std::unique_ptr<ModuleUpdate>& update) { return reenumerates(update->moduleKey()); });
}

void UpdateRun::startWaiting()
{
    // While a module that re-enumerates is updated, the ports that come and go may be its own: such
    // an update runs alone.
    while (!m_stopping && !m_waiting.isEmpty() && !reenumeratingUpdateRunning()) {
        const QString key = m_waiting.first();
        if (reenumerates(key) && !m_running.empty())
            return;
        m_waiting.removeFirst();
        m_handled.insert(key);
        DUXLModuleInterface* module = m_host.handler->getModulePlugin(key);
        const QString version = module ? module->firmwareVersion() : QString();
        if (version == m_fileIdentifier) {
            UpdateResult skipped = baseResult(key);
            skipped.result = UpdateResult::Result::Skipped;
            skipped.firmwareBefore = version;
            m_results.append(skipped);
            m_host.recorder->record(skipped);
            m_teller->moduleEnded(skipped);
            keepSnapshot();
            continue;
        }
        ModuleUpdate* update = launch(key);
        update->setTimeout(m_options.timeoutSeconds);
        startOne(update);
    }
    keepSnapshot();
}

void UpdateRun::writeReadBack(UpdateResult* result) const
{
    result->readBackFile = m_options.readBackFile;
    const std::string hex = IntelHex::write(reinterpret_cast<const unsigned char*>(result->readBytes.constData()),
                                            result->readBytes.size(), result->readBase, IntelHex::AddressStyle::Linear);
    QSaveFile file(m_options.readBackFile);
    if (file.open(QIODevice::WriteOnly) && file.write(hex.data(), qint64(hex.size())) == qint64(hex.size()) && file.commit())
        return;
    result->result = UpdateResult::Result::Failed;
    result->failureText = QStringLiteral("the flash was read back, but %1 could not be written: %2")
                              .arg(m_options.readBackFile, file.errorString());
}

void UpdateRun::updateEnded(ModuleUpdate* update, const UpdateResult& result)
{
    // An update that did not answer the cancel in time was told as cut short already.
    if (m_finished)
        return;
    UpdateResult ended = result;
    ended.timeoutSeconds = m_options.timeoutSeconds;
    if (ended.result == UpdateResult::Result::ReadBack)
        writeReadBack(&ended);
    // The state is told as the module states it, not as the phase would leave it: a late restart, a
    // lost reply or a junk answer may have put it elsewhere.
    if ((ended.failed() || ended.result == UpdateResult::Result::Interrupted) && !ended.phase.isEmpty()) {
        QElapsedTimer waited;
        waited.start();
        askStateWhenFree(update, ended, waited);
        return;
    }
    conclude(update, ended);
}

void UpdateRun::askStateWhenFree(ModuleUpdate* update, UpdateResult ended, const QElapsedTimer& waited)
{
    if (m_finished)
        return;
    const bool workerOut = update->workerRunning();
    if (workerOut && waited.elapsed() < StateQuestionWaitMs) {
        QTimer::singleShot(StateQuestionPollMs, this, [this, update, ended, waited] { askStateWhenFree(update, ended, waited); });
        return;
    }
    // A worker still out holds the link (a hung module keeps it waiting): its state is unknown.
    const QString answer = workerOut ? QString() : askVersion(*m_host.handler, ended.moduleKey);
    ended.moduleState = UpdateResult::moduleStateAfter(ended.phase, ended.erases, answer);
    // The host's lists follow what the module runs now: its bootloader, not the firmware it ran.
    if (VersionText::modeOf(answer) == VersionText::Mode::Bootloader)
        m_host.handler->noteModuleVersion(ended.moduleKey, answer);
    // The wait for the answer let the run's end come first, which told this update as cut short.
    if (m_finished)
        return;
    conclude(update, ended);
}

void UpdateRun::conclude(ModuleUpdate* update, const UpdateResult& ended)
{
    const bool again = retried(update, ended);
    if (!again) {
        m_results.append(ended);
        m_resultPositions.append(m_positions.value(update, m_results.size()));
    }
    const auto at = std::find_if(m_running.begin(), m_running.end(),
                                 [update](const std::unique_ptr<ModuleUpdate>& running) { return running.get() == update; });
    if (at != m_running.end()) {
        // The plug-in reported from inside its completion, and its worker lingers a moment after that: the
        // instance goes once the worker has finished. Deleted sooner, it would hold this thread, and with it
        // every other module's update, until its worker had left.
        ModuleUpdate* instance = at->release();
        instance->setParent(this);
        // A window whose update did not end updated stays for its history, until the user closes it.
        if (m_options.wantsWindow() && ended.result != UpdateResult::Result::Updated
            && ended.result != UpdateResult::Result::Resumed)
            instance->keepWindowOpen();
        instance->deleteOnceWorkerLeft(TimeScale::scaledMs(UnstartedWorkerBoundMs));
        m_running.erase(at);
    }
    keepSnapshot();
    if (again)
        return;
    if (m_options.watch) {
        m_teller->moduleEnded(ended);
        // A module that re-enumerates ends under another port: that is where it stays, not a new module.
        m_handled.insert(ended.moduleKey);
        m_waiting.removeAll(ended.moduleKey);
        if (!m_stopping) {
            startWaiting();
            return;
        }
    }
    if (m_running.empty())
        finish();
}

void UpdateRun::interrupt()
{
    cancelAll(UpdateResult::Result::Interrupted, InterruptCancelWaitMs);
}

bool UpdateRun::hasDeadline() const
{
    // Under --watch the time-out bounds each update (ModuleUpdate::setTimeout), not the watch.
    return !m_options.watch;
}

void UpdateRun::deadlineReached()
{
    cancelAll(UpdateResult::Result::TimedOut, TimeoutCancelWaitMs);
}

void UpdateRun::cancelAll(UpdateResult::Result outcome, int waitMs)
{
    if (m_finished || m_stopping)
        return;
    m_stopping = true;
    m_cancelOutcome = outcome;
    m_searchTimer.stop();
    if (!m_started && !m_options.watch) {
        endNotStarted(outcome == UpdateResult::Result::Interrupted ? outcome : UpdateResult::Result::NotStarted);
        return;
    }
    if (m_running.empty()) {
        finish();
        return;
    }
    m_endWait.start(waitMs);
    // Copied: a cancel may end an update at once, which takes it out of the list.
    std::vector<ModuleUpdate*> running;
    for (const std::unique_ptr<ModuleUpdate>& update : m_running)
        running.push_back(update.get());
    for (ModuleUpdate* update : running)
        update->cancel(outcome);
}

void UpdateRun::endNotStarted(UpdateResult::Result outcome)
{
    UpdateResult result = baseResult(QString());
    result.result = outcome;
    result.failureText = outcome == UpdateResult::Result::Interrupted
        ? QStringLiteral("interrupted before the update started")
        : m_refusal;
    m_results.append(result);
    m_host.recorder->record(result);
    // A watch tells each result as it comes; this one before any module.
    if (m_options.watch)
        m_teller->moduleEnded(result);
    finish();
}

UpdateResult UpdateRun::resultSoFar(const ModuleUpdate& update) const
{
    UpdateResult sofar = update.result();
    sofar.fileIdentifier = m_fileIdentifier;
    sofar.timeoutSeconds = m_options.timeoutSeconds;
    sofar.durationMs = m_clock.elapsed();
    return sofar;
}

void UpdateRun::keepProgressOf(const ModuleUpdate* update)
{
    // Progress comes with every word of every module: only the module that moved is taken again, so
    // that a gang's progress costs each module what a lone one's does.
    UpdateResult sofar = resultSoFar(*update);
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    for (UpdateResult& kept : m_runningSnapshot) {
        if (kept.moduleKey == sofar.moduleKey) {
            kept = std::move(sofar);
            return;
        }
    }
}

void UpdateRun::keepSnapshot()
{
    QList<UpdateResult> running;
    QList<QObject*> recorders;
    for (const std::unique_ptr<ModuleUpdate>& update : m_running) {
        recorders.append(update->recorder());
        running.append(resultSoFar(*update));
    }
    if (!m_launching.isEmpty()) {
        UpdateResult launching = baseResult(m_launching);
        DUXLModuleInterface* module = m_host.handler->getModulePlugin(m_launching);
        launching.firmwareBefore = module ? module->firmwareVersion() : QString();
        running.append(launching);
        recorders.append(nullptr);
    }
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot = m_results;
    m_runningSnapshot = running;
    m_runningRecorders = recorders;
    if (m_results.isEmpty() && running.isEmpty() && !m_options.watch) {
        UpdateResult searching = baseResult(QString());
        searching.failureText = m_refusal;
        m_runningSnapshot.append(searching);
    }
}

QList<UpdateResult> UpdateRun::snapshot(UpdateResult::Result cutShort) const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    QList<UpdateResult> results = m_snapshot;
    for (UpdateResult result : m_runningSnapshot) {
        // A run that never found its module was not started, whatever ended it; an interrupt says so.
        if (!result.moduleKey.isEmpty()) {
            ::cutShort(&result, cutShort, m_clock.elapsed());
        } else if (cutShort == UpdateResult::Result::Interrupted) {
            result.result = cutShort;
            result.failureText = QStringLiteral("interrupted before the update started; %1").arg(result.failureText);
        }
        results.append(result);
    }
    return results;
}

void UpdateRun::recordCutShort(UpdateResult::Result cutShort, int waitMs) const
{
    // Held throughout: an update leaves the list before its instance can go.
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    for (int i = 0; i < m_runningRecorders.size(); ++i) {
        UpdateResult result = m_runningSnapshot.at(i);
        ::cutShort(&result, cutShort, m_clock.elapsed());
        // An update whose start was still under way has no recorder to tell: the run keeps its record.
        if (!m_runningRecorders.at(i))
            m_host.recorder->recordAndWait(result, waitMs);
        else
            UpdateDriver::tellCancelReason(m_runningRecorders.at(i), result.failureText,
                                           cutShort == UpdateResult::Result::Interrupted, waitMs);
    }
}

int UpdateRun::toldCount() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_options.watch ? m_snapshot.size() : 0;
}

void UpdateRun::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_endWait.stop();
    m_searchTimer.stop();
    const int told = m_options.watch ? m_results.size() : 0;
    // Still running after the wait: they did not answer the cancel in time.
    for (const std::unique_ptr<ModuleUpdate>& update : m_running) {
        UpdateResult result = update->result();
        result.timeoutSeconds = m_options.timeoutSeconds;
        ::cutShort(&result, m_cancelOutcome, m_clock.elapsed());
        m_results.append(result);
        m_resultPositions.append(m_positions.value(update.get(), m_results.size()));
    }
    if (!m_options.watch) {
        QList<int> order;
        for (int i = 0; i < m_results.size(); ++i)
            order.append(i);
        std::stable_sort(order.begin(), order.end(),
                         [this](int a, int b) { return m_resultPositions.value(a) < m_resultPositions.value(b); });
        QList<UpdateResult> ordered;
        for (int i : qAsConst(order))
            ordered.append(m_results.at(i));
        m_results = ordered;
    }
    keepSnapshot();
    m_teller->runEnded(m_results, told);
    emit finished(UpdateSummary::exitCode(m_results));
}
