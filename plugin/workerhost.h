#pragma once

#include "commandhandlerinterface.h"
#include "progressmessage.h"
#include "workerdevice.h"

#include <QObject>
#include <QPointer>
#include <QString>

class Command;
class FirmwareUpdaterThread;
class PluginHandler;
class ToolSettings;
struct LinkPolicy;
struct ModuleLink;
class UpdateOutcome;

// Hosts the update worker on the GUI thread: makes it, runs its requests on the link of the module under
// update, closes and reopens that link for it, and joins it when the session goes. What the worker shows
// goes on as signals.
class WorkerHost : public QObject, private WorkerDevice
{
    Q_OBJECT
public:
    // `moduleKey` is the session's: the key of the module under update, which a port change rewrites.
    WorkerHost(PluginHandler* pluginHandler, ToolSettings& settings, const QString& moduleKey, UpdateOutcome* outcome,
               QObject* parent);

    FirmwareUpdaterThread* worker() const { return m_worker; }
    // The link the worker's requests go to; null: they find none.
    void setHandler(CommandHandlerInterface* handler) { m_handler = handler; }
    CommandHandlerInterface* handler() const { return m_handler; }
    void startWorker();
    // A report of the host about its modules: a rebuilt tree means the worker's link was closed.
    void noteHostReport(const QString& message);
    // The module was sent to its bootloader: its link goes over to the bootloader's rate, or is reopened
    // for it. `versionKnown`: the module answered at its own address before.
    void switchToBootloader(const ModuleLink& link, const LinkPolicy& policy, bool versionKnown);
    // Stops the worker and waits for it, unless this thread is inside its erase; the worker then ends alone.
    void stopWorker();

    // A new update: no failure and no silence of the module are known yet.
    void resetRequests();
    // Why the link's last request was not carried out, empty when it was: the reason a failed step gives.
    QString requestFailure() const { return m_requestFailure; }
    // Whether the module answered the worker's last request that came back.
    bool moduleAnswered() const { return m_moduleAnswered; }
    // The worker was started and has not reported its end yet.
    bool workerOut() const { return m_workerOut; }
    // No request of the worker is out, nor can one come: a question of the session's own finds the link free.
    bool linkFree() const { return m_requestsOut == 0 && !m_workerOut; }

    // The worker's requests, which also reach the tool's slots.
    void forwardRequest(Command* request, Command* reply);
    void forwardRequestWithoutReply(Command* request);
    void readFirmwareVersion(QString* version, int moduleAddress) override;
    void closeDevice() override;
    void reopenDevice(int moduleState) override;

signals:
    void progressText(ProgressMessage message);
    void historyLine(QString html);
    void historyNote(QString text);
    void progressValue(int value);
    void progressMaximum(int value);
    void moduleVersionRead(QString version);
    void cancelAllowed(bool allowed);
    // The erase that the worker waits for runs on this thread, and ends.
    void eraseRunning(bool running);
    // The worker reported the end of its run.
    void ended(bool successful);

private:
    QString runRequest(Command* request, Command* reply) override;
    void runRequestWithoutReply(Command* request) override;
    int requestWindow() override;
    void startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done) override;
    void showProgress(const ProgressMessage& message) override;
    void showDebugMessage(const QString& message) override;
    void showProgressBarValue(int value) override;
    void showProgressBarMaximum(int maximum) override;
    void showModuleVersion(const QString& version) override;
    void updateCompleted(bool successful) override;
    // `answered`: the module replied to it.
    void requestCameBack(bool answered);

    PluginHandler* m_pluginHandler;
    ToolSettings& m_settings;
    const QString& m_moduleKey;
    FirmwareUpdaterThread* m_worker;
    // The link's handler goes when its port does (a USB module that re-enumerates).
    QPointer<CommandHandlerInterface> m_handler;
    QString m_requestFailure;
    bool m_moduleAnswered = true;
    int m_requestsOut = 0;
    bool m_workerOut = false;
    // This (GUI) thread is running the worker's erase, which the worker waits for. The erase keeps the
    // event loop going, in which the host may destroy the form and the session with it.
    bool m_inWorkerRequest = false;
};
