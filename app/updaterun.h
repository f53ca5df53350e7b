#pragma once

#include "hostoptions.h"
#include "hostparts.h"
#include "updateresult.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <mutex>
#include <vector>

class ModuleDiscovery;
class ModuleUpdate;
class RunRecorder;
class RunTeller;

// The one driver of dux-host's updates: a single module, several at once (--module more than once,
// --all) and every module that appears (--watch) are each a list of module updates, each by its own
// instance of the plug-in. How each ended is one UpdateResult; the run's exit code and everything the
// RunTeller prints are derived from that list. --dry-run goes the same way up to the point where the
// update would be started.
class UpdateRun : public QObject
{
    Q_OBJECT
public:
    // What the run works with; all outlive it.
    struct Host : HostParts
    {
        // Records what the plug-in never sees: refusals before a module is touched, skipped modules.
        RunRecorder* recorder;
        // How long the links' first search took before the run began.
        qint64 searchedMs = 0;
    };

    // After a cancel, the updates have this long to end: a reply time-out after SIGINT, less after the
    // time-out, which must end the run within a second.
    static constexpr int InterruptCancelWaitMs = 5000;
    static constexpr int TimeoutCancelWaitMs = 400;

    UpdateRun(const HostOptions& options, const Host& host, const QString& fileIdentifier, int fileBytes,
              RunTeller* teller, QObject* parent = nullptr);
    ~UpdateRun() override;

    void start();
    // SIGINT or SIGTERM: the running updates are cancelled, then the run ends.
    void interrupt();
    // Whether --timeout bounds the whole run; --watch bounds each update by it instead.
    bool hasDeadline() const;
    // The --timeout has passed: the running updates are cancelled, or the run ends not started.
    void deadlineReached();

    // The results so far, the updates still running told as `cutShort`; safe from any thread.
    QList<UpdateResult> snapshot(UpdateResult::Result cutShort) const;
    // On the watchdog's thread, when the process is to end at once: the plug-in's records of the updates
    // still running say why they were cut short, waiting up to `waitMs` for each.
    void recordCutShort(UpdateResult::Result cutShort, int waitMs) const;
    // How many results the teller has told already (--watch tells each as it ends).
    int toldCount() const;

    // "no module found …": what the search looked at, for `searches` searches over `elapsedMs`.
    // The time the write's words of `bytes` take on the line at `dataRate`: request and reply of each word.
    static qint64 lineWriteMs(qint64 bytes, int dataRate);
    static QString searchedText(const ModuleDiscovery& discovery, const HostOptions& options, int searches,
                                qint64 elapsedMs);

signals:
    // Told and done; the process may end with `exitCode`.
    void finished(int exitCode);

private:
    // The fixed modules to update, or empty with m_refusal (found none yet or a wrong key) set.
    // The modules the options name among those listed, unless they cannot be given to one run (clashOf).
    QStringList chooseModules();
    QStringList listedChoice();
    // Why `keys` cannot go to one run: two ports that are one module, or several modules on USB links,
    // whose new port after a restart no update can tell from another's; empty when they can.
    QString clashOf(const QStringList& keys) const;
    void tryToStart();
    void startUpdates(const QStringList& keys);
    // --if-newer: a module whose firmware is not older than the file's is told and recorded as not started.
    bool refusedAsNotNewer(const QString& key);
    // --retries: a failed update is started again while attempts are left; true when it was.
    bool retried(ModuleUpdate* update, const UpdateResult& ended);
    void plan(const QStringList& keys);
    // --watch
    void appeared(const QString& key);
    void gone(const QString& key);
    void startWaiting();
    bool reenumerates(const QString& key) const;
    bool reenumeratingUpdateRunning() const;

    ModuleUpdate* launch(const QString& key);
    // Starts it; one that did not start has ended.
    void startOne(ModuleUpdate* update);
    // Writes a read-back's bytes into the --read-back file as Intel HEX; a file that cannot be written
    // fails the result.
    void writeReadBack(UpdateResult* result) const;
    void updateEnded(ModuleUpdate* update, const UpdateResult& result);
    // Asks the module of an update that did not end updated for its state once the plug-in's worker is
    // gone, then concludes the update.
    void askStateWhenFree(ModuleUpdate* update, UpdateResult ended, const QElapsedTimer& waited);
    // Takes an ended update's result into the run.
    void conclude(ModuleUpdate* update, const UpdateResult& ended);
    void cancelAll(UpdateResult::Result outcome, int waitMs);
    void endNotStarted(UpdateResult::Result outcome);
    void finish();
    void keepSnapshot();
    void keepProgressOf(const ModuleUpdate* update);
    UpdateResult resultSoFar(const ModuleUpdate& update) const;
    UpdateResult baseResult(const QString& key) const;

    const HostOptions m_options;
    const Host m_host;
    const QString m_fileIdentifier;
    const int m_fileBytes;
    RunTeller* m_teller;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<ModuleUpdate>> m_running;
    QList<UpdateResult> m_results;
    // The position of each update, and of each result, in the order the modules were given in: a
    // fixed list is told in that order, whichever ends first.
    QHash<const ModuleUpdate*, int> m_positions;
    QList<int> m_resultPositions;
    // The attempts of each module's update so far (--retries), by the key its last one ended with.
    QHash<QString, int> m_attempts;
    QString m_refusal;
    // The module whose update is being made: the plug-in's instance reads its version as it is shown,
    // which may hold the event loop.
    QString m_launching;
    bool m_refusalFinal = false;
    int m_searches = 0;
    QTimer m_searchTimer;
    QTimer m_endWait;
    UpdateResult::Result m_cancelOutcome = UpdateResult::Result::Failed;
    bool m_started = false;
    bool m_stopping = false;
    bool m_finished = false;
    // --watch: modules seen and not yet handled, in the order they appeared; those updated or skipped
    // until they go.
    QStringList m_waiting;
    QSet<QString> m_handled;

    // For the watchdog's thread.
    mutable std::mutex m_snapshotMutex;
    QList<UpdateResult> m_snapshot;
    QList<UpdateResult> m_runningSnapshot;
    // The recorders of the updates at the head of m_runningSnapshot: alive while they are listed there.
    QList<QObject*> m_runningRecorders;
};
