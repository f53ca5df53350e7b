#include "updatewatch.h"

#include "commandhandlerinterface.h"
#include "console.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "linkpolicy.h"
#include "moduleupdate.h"
#include "pluginhandler.h"

#include <QTextStream>

#include <algorithm>

namespace {
// After SIGINT, the running updates have this long to reach a cancel point (a reply time-out).
constexpr int InterruptCancelWaitMs = 5000;
}

UpdateWatch::UpdateWatch(const HostOptions& options, const Host& host, const QString& fileIdentifier,
                         QObject* parent)
    : UpdateJob(options, host, parent)
    , m_fileIdentifier(fileIdentifier)
{
    m_endWait.setSingleShot(true);
    connect(&m_endWait, &QTimer::timeout, this, &UpdateWatch::finish);
}

UpdateWatch::~UpdateWatch() = default;

void UpdateWatch::start()
{
    if (m_options.verbosity != HostOptions::Verbosity::Quiet)
        Console::out() << "Waiting for modules to update with " << m_options.fileName << " (firmware "
                       << m_fileIdentifier << "); Ctrl-C ends" << Qt::endl;
    // Queued: the register reports from inside the discovery's search, which must not run again
    // from the nested waits of what is started here.
    connect(m_host.handler, &PluginHandler::modulePluginAdded, this, &UpdateWatch::appeared, Qt::QueuedConnection);
    connect(m_host.handler, &PluginHandler::modulePluginRemoved, this, &UpdateWatch::gone);
    for (const QString& key : m_host.handler->getModulePluginKeys(true))
        appeared(key);
}

void UpdateWatch::appeared(const QString& key)
{
    if (m_stopping || m_handled.contains(key) || m_waiting.contains(key))
        return;
    m_waiting.append(key);
    startWaiting();
}

void UpdateWatch::gone(const QString& key)
{
    m_handled.remove(key);
    m_waiting.removeAll(key);
}

bool UpdateWatch::onUsbLink(const QString& key) const
{
    DUXLModuleInterface* module = m_host.handler->getModulePlugin(key);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    return connection && LinkPolicy::forKind(connection->interfaceType()).followsPortChange();
}

bool UpdateWatch::usbUpdateRunning() const
{
    return std::any_of(m_running.begin(), m_running.end(),
                       [this](const std::unique_ptr<ModuleUpdate>& update) { return onUsbLink(update->moduleKey()); });
}

QString UpdateWatch::firmwareVersion(const QString& key) const
{
    DUXLModuleInterface* module = m_host.handler->getModulePlugin(key);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    CommandHandlerInterface* link = connection ? connection->commandHandler() : nullptr;
    return link ? link->getFirmwareVersion(module->moduleAddress()) : QString();
}

void UpdateWatch::startWaiting()
{
    // While a module on a USB link is updated, the ports that come and go may be its own.
    while (!m_stopping && !m_waiting.isEmpty() && !usbUpdateRunning()) {
        const QString key = m_waiting.first();
        const bool usb = onUsbLink(key);
        if (usb && !m_running.empty())
            return;
        m_waiting.removeFirst();
        m_handled.insert(key);
        const QString version = firmwareVersion(key);
        if (version == m_fileIdentifier) {
            ++m_skipped;
            Console::out() << "Skipped " << key << ": it already runs " << version << Qt::endl;
            continue;
        }
        auto update = std::make_unique<ModuleUpdate>(m_host.plugin, m_host.handler, m_host.window, key,
                                                     m_options.fileName);
        ModuleUpdate* started = update.get();
        connect(started, &ModuleUpdate::ended, this,
                [this, started](const UpdateResult& result) { updateEnded(started, result); });
        m_running.push_back(std::move(update));
        started->setTimeout(m_options.timeoutSeconds);
        if (started->start() != UpdateDriver::StartResult::Started)
            updateEnded(started, started->result());
    }
}

void UpdateWatch::updateEnded(ModuleUpdate* update, const UpdateResult& result)
{
    if (result.outcome == UpdateResult::Outcome::Updated)
        ++m_updated;
    else if (result.outcome == UpdateResult::Outcome::Interrupted)
        ++m_interrupted;
    else
        ++m_failed;
    Console::out() << result.closingLine() << Qt::endl;
    // A module on a USB link ends under another port: that is where it stays, not a new module.
    m_handled.insert(result.moduleKey);
    m_waiting.removeAll(result.moduleKey);
    const auto at = std::find_if(m_running.begin(), m_running.end(),
                                 [update](const std::unique_ptr<ModuleUpdate>& running) { return running.get() == update; });
    if (at != m_running.end()) {
        // The plug-in reported from inside its completion: its instance goes once that has returned.
        at->release()->deleteLater();
        m_running.erase(at);
    }
    if (m_stopping && m_running.empty())
        finish();
    else
        startWaiting();
}

void UpdateWatch::interrupt()
{
    if (m_stopping)
        return;
    m_stopping = true;
    if (m_running.empty()) {
        finish();
        return;
    }
    m_endWait.start(InterruptCancelWaitMs);
    for (const std::unique_ptr<ModuleUpdate>& update : m_running)
        update->cancel(UpdateResult::Outcome::Interrupted);
}

void UpdateWatch::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_endWait.stop();
    // Updates that did not answer the cancel in time were cut short all the same.
    m_interrupted += int(m_running.size());
    Console::out() << "Watched " << (m_updated + m_failed + m_skipped + m_interrupted) << " modules: " << m_updated
                   << " updated, " << m_failed << " failed, " << m_skipped << " skipped (already on "
                   << m_fileIdentifier << ")";
    if (m_interrupted > 0)
        Console::out() << ", " << m_interrupted << " interrupted";
    Console::out() << Qt::endl;
    emit finished(m_failed == 0 ? HostOptions::ExitUpdated : HostOptions::ExitUpdateFailed);
}
