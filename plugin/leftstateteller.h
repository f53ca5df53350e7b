#pragma once

#include <QObject>
#include <QString>

class PluginHandler;
class UpdateOutcome;
class WorkerHost;

// Says, after a failed or cancelled update, what state it left the module in: in the history and to the
// host's module lists. The module is asked only once the link is free: while the question waited, the
// worker's own requests and the list's version question would meet a busy link.
class LeftStateTeller : public QObject
{
    Q_OBJECT
public:
    // `moduleKey` is the session's, which a port change rewrites.
    LeftStateTeller(PluginHandler* pluginHandler, const QString& moduleKey, const UpdateOutcome& outcome,
                    const WorkerHost& workerHost, QObject* parent);

    // A new update owes nothing yet.
    void reset() { m_owed = false; }
    // An end of the update; `owes`: it failed while under way. Says what is owed once the link is free.
    void noteEnd(bool owes);

signals:
    void told(QString text);

private:
    void tell();

    PluginHandler* m_pluginHandler;
    const QString& m_moduleKey;
    const UpdateOutcome& m_outcome;
    const WorkerHost& m_workerHost;
    // Cancel and the worker may both end an update: the first end owes what it left on the module.
    bool m_owed = false;
};
