#pragma once

#include "updatejob.h"
#include "updateresult.h"

#include <QList>
#include <QTimer>
#include <memory>
#include <vector>

class ModuleUpdate;
class ProgressBoard;

// Several modules updated at once (--module more than once, or --all): one progress line each, and at
// the end a table of how each ended, or with --json an array of their objects.
class UpdateBatch : public UpdateJob
{
    Q_OBJECT
public:
    UpdateBatch(const HostOptions& options, const Host& host, QObject* parent = nullptr);
    ~UpdateBatch() override;

    void start() override;
    void interrupt() override;
    void deadlineReached() override;

private:
    // The modules to update; empty while one of them is not listed yet (see m_missing).
    QStringList modulesFound();
    void tryToStart();
    void cancelAll(UpdateResult::Outcome outcome, int waitMs);
    void updateEnded();
    void finish();

    std::vector<std::unique_ptr<ModuleUpdate>> m_updates;
    std::unique_ptr<ProgressBoard> m_board;
    QString m_missing;
    QTimer m_searchTimer;
    QTimer m_endWait;
    UpdateResult::Outcome m_cancelOutcome = UpdateResult::Outcome::Failed;
    bool m_finished = false;
};
