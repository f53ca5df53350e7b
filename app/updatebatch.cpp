#include "updatebatch.h"

#include "console.h"
#include "modulediscovery.h"
#include "moduleupdate.h"
#include "pluginhandler.h"
#include "progressboard.h"
#include "updatesummary.h"

#include <QJsonDocument>
#include <QTextStream>

namespace {
// Modules not found yet are looked for again this often until the time-out.
constexpr int SearchAgainMs = 1000;
// After a cancel, the updates have this long to end: a reply time-out after SIGINT, less after the
// time-out, which must end the run within a second.
constexpr int InterruptCancelWaitMs = 5000;
constexpr int TimeoutCancelWaitMs = 400;
}

UpdateBatch::UpdateBatch(const HostOptions& options, const Host& host, QObject* parent)
    : UpdateJob(options, host, parent)
{
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(SearchAgainMs);
    connect(&m_searchTimer, &QTimer::timeout, this, [this] {
        m_host.discovery->rescan();
        tryToStart();
    });
    m_endWait.setSingleShot(true);
    connect(&m_endWait, &QTimer::timeout, this, &UpdateBatch::finish);
}

UpdateBatch::~UpdateBatch() = default;

void UpdateBatch::start()
{
    tryToStart();
}

QStringList UpdateBatch::modulesFound()
{
    const QStringList listed = m_host.handler->getModulePluginKeys(true);
    if (m_options.allModules) {
        m_missing = listed.isEmpty() ? QStringLiteral("no module found") : QString();
        return listed;
    }
    QStringList missing;
    for (const QString& key : m_options.moduleKeys) {
        if (!listed.contains(key))
            missing.append(key);
    }
    m_missing = missing.isEmpty() ? QString()
                                  : QStringLiteral("%1 not listed (found: %2)")
                                        .arg(missing.join(QStringLiteral(", ")),
                                             listed.isEmpty() ? QStringLiteral("none") : listed.join(QStringLiteral(", ")));
    return missing.isEmpty() ? m_options.moduleKeys : QStringList();
}

void UpdateBatch::tryToStart()
{
    const QStringList keys = modulesFound();
    if (keys.isEmpty()) {
        if (!m_searchTimer.isActive() && m_options.verbosity != HostOptions::Verbosity::Quiet)
            Console::err() << "dux-host: " << m_missing << "; looking again until the time-out ("
                           << m_options.timeoutSeconds << " s)" << Qt::endl;
        m_searchTimer.start();
        return;
    }
    if (m_options.verbosity == HostOptions::Verbosity::Normal && !m_options.json)
        m_board = std::make_unique<ProgressBoard>(&Console::out(), Console::outputIsTerminal());
    for (const QString& key : keys) {
        m_updates.push_back(
            std::make_unique<ModuleUpdate>(m_host.plugin, m_host.handler, m_host.window, key, m_options.fileName));
        ModuleUpdate* update = m_updates.back().get();
        if (m_board) {
            const int row = m_board->addModule(key);
            ProgressBoard* board = m_board.get();
            connect(update, &ModuleUpdate::phaseChanged, board,
                    [board, row](const QString& phase) { board->phaseReached(row, phase); });
            connect(update, &ModuleUpdate::progressed, board,
                    [board, row](qint64 done, qint64 total) { board->progressed(row, done, total); });
        }
        connect(update, &ModuleUpdate::ended, this, &UpdateBatch::updateEnded);
    }
    // All are set up before the first starts, so that they start together.
    for (const std::unique_ptr<ModuleUpdate>& update : m_updates)
        update->start();
    updateEnded();
}

void UpdateBatch::interrupt()
{
    cancelAll(UpdateResult::Outcome::Interrupted, InterruptCancelWaitMs);
}

void UpdateBatch::deadlineReached()
{
    cancelAll(UpdateResult::Outcome::TimedOut, TimeoutCancelWaitMs);
}

void UpdateBatch::cancelAll(UpdateResult::Outcome outcome, int waitMs)
{
    if (m_finished || m_endWait.isActive())
        return;
    m_cancelOutcome = outcome;
    if (m_updates.empty()) {
        UpdateResult result;
        result.outcome = outcome == UpdateResult::Outcome::Interrupted ? outcome : UpdateResult::Outcome::NotStarted;
        result.failureText = m_missing;
        Console::err() << result.closingLine() << Qt::endl;
        m_finished = true;
        emit finished(result.exitCode());
        return;
    }
    m_endWait.start(waitMs);
    for (const std::unique_ptr<ModuleUpdate>& update : m_updates)
        update->cancel(outcome);
}

void UpdateBatch::updateEnded()
{
    for (const std::unique_ptr<ModuleUpdate>& update : m_updates) {
        if (update->isRunning())
            return;
    }
    finish();
}

void UpdateBatch::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_endWait.stop();
    QList<UpdateResult> results;
    for (const std::unique_ptr<ModuleUpdate>& update : m_updates) {
        UpdateResult result = update->result();
        // Still running after the wait: it did not answer the cancel in time.
        if (update->isRunning())
            result.outcome = m_cancelOutcome;
        result.timeoutSeconds = m_options.timeoutSeconds;
        results.append(result);
    }
    if (m_board)
        m_board->finish();
    const QString table = UpdateSummary::table(results);
    if (m_options.json) {
        Console::err() << table << Qt::flush;
        Console::out() << QJsonDocument(UpdateSummary::toJson(results)).toJson(QJsonDocument::Compact) << Qt::endl;
    } else {
        Console::out() << table << Qt::flush;
    }
    emit finished(UpdateSummary::exitCode(results));
}
