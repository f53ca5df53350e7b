#pragma once

#include "bootloaderentry.h"
#include "firmwareimage.h"
#include "modulelink.h"
#include "progressmessage.h"
#include "runoptions.h"
#include "workerdevice.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSerialPortInfo>
#include <QString>
#include <optional>

class Command;
class CommandHandlerInterface;
class FirmwareUpdaterThread;
class PluginHandler;
class ToolSettings;
class UpdateOutcome;
struct LinkPolicy;

// Owns one update from the press of Update to its end: finds the module's link, sends the module to
// its bootloader, reopens and follows its link, runs the worker and forwards its requests, and ends
// with the pool copy and the outcome. Tells the form what to show through its signals.
class UpdateSession : public QObject, private WorkerDevice
{
    Q_OBJECT
public:
    // What the completion shows as the module's version when it could not read it back.
    static constexpr const char* NoVersionText = QT_TRANSLATE_NOOP("FirmwareUpdate", "Error");

    UpdateSession(PluginHandler* pluginHandler, ToolSettings& settings, QObject* parent = nullptr);
    ~UpdateSession() override;

    // Makes the worker; the session is idle from then on.
    void createWorker();
    // Ends a running update before the form goes: stops the worker and gives the link back.
    void shutDown();

    // What choosing a module found: its name (empty without a complete link), and the version it
    // runs when its device is open.
    struct Selection
    {
        QString moduleName;
        bool deviceOpen = false;
        QString version;
        // The link was stored in the settings (a module running its firmware).
        bool linkRemembered = false;
    };
    Selection selectModule(const QString& moduleKey);
    QString moduleKey() const { return m_moduleKey; }
    // The module of the selection, which may be null.
    DUXLModuleInterface* selectedModule() const;
    bool isIdle() const { return m_state == State::Idle; }

    // The firmware the next update writes, and the path the pool copy is made from.
    void setImage(const FirmwareImage& image);
    void setChosenFile(const QString& fileName) { m_chosenFile = fileName; }
    FirmwareUpdaterThread* worker() const { return m_worker; }
    UpdateOutcome* outcome() const { return m_outcome; }

    // One step of the update: the first call enters the bootloader; re-calls (timers, a port change)
    // find the module switched and start the worker. `byUser`: the call is the press of Update.
    void proceed(bool byUser);
    void cancel();
    // The host saw these ports before and now; a module on a USB link is followed to its new port.
    // Returns whether no port was removed.
    bool followPorts(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old);
    // A report of the host about its modules.
    void noteHostReport(const QString& message);

public slots:
    // The worker's requests.
    void complete(bool successful);
    void closeDevice() override;
    void reopenDevice(int moduleState) override;
    void forwardRequest(Command* request, Command* reply);
    void forwardRequestWithoutReply(Command* request);
    void readFirmwareVersion(QString* version, int moduleAddress) override;

signals:
    // History lines: markup, plain text appended as a paragraph, and a mark added to the last line.
    void historyLine(QString html);
    void historyNote(QString text);
    void historyMark(QString text);
    void historyCleared();
    void progressText(ProgressMessage message);
    void progressValue(int value);
    void progressMaximum(int value);
    void moduleVersionRead(QString version);
    void activeFirmwareShown(QString version);
    void cancelAllowed(bool allowed);
    // The update took the form (and the clock) and gives it back; `updateAllowed`: a program is there.
    void begun();
    void released(bool updateAllowed);
    // The worker is about to start, and the erase that the worker waits for runs and ends.
    void workerStarting();
    void eraseRunning(bool running);
    void listRebuildWanted();
    // The update is over and the list rebuilt; the outcome follows.
    void concluded();
    // What the host is told: "Start fw update" at bootloader entry, "true"/"false" at completion.
    void firmwareCompleted(QString moduleKey, QString message);

private:
    // The numbers are those the update's steps are written in.
    enum class State : int {
        // The module was sent to its bootloader and the update is under way.
        Updating = 0,
        Idle = 3,
    };

    // The worker's signals reach this session through WorkerBridge, as its WorkerDevice.
    void connectWorker();
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
    void stopWorker();
    void beginUpdate();
    QString readActiveFirmware(const ModuleLink& link);
    void continueAfterPortChange(const ModuleLink& link, const QString& version);
    void enterBootloader(const ModuleLink& link, const LinkPolicy& policy, const QString& version);
    void scheduleWorkerStart(bool inBootloader);
    void recallAfter(int delayMs);
    // Why this update must not go on to the bootloader, none when it may: no program, a file cut short,
    // or firmware of another module type than the one the module runs.
    std::optional<ProgressMessage> refusalBeforeEntry(const QString& version) const;
    // The module ran the file's firmware before its bootloader entry: the first thing a skip needs.
    bool runsChosenFirmware() const;
    void refuseUpdate(const ProgressMessage& reason);
    // The completion's hand-back: the whole link with the report to the host (the version read back, or
    // "Error"), or only the connection when the module is gone.
    QString handBackAndReport(const ModuleLink& link, bool successful);
    void handConnectionBack();
    // A failed or cancelled update: the state it left the module in, in the history and to the host.
    void tellModuleState();
    // No request of the worker is out, nor can one come: a question of the session's own finds the link free.
    bool linkOursToAsk() const;
    // The version the module answers now, at its address or else at the bootloader's.
    QString askVersion(const ModuleLink& link);
    // A request of the worker came back; `answered`: the module replied to it.
    void requestCameBack(bool answered);
    void reportOutcome(bool successful, const QString& version, const QString& moduleKey);
    void tellUser(const QString& text);
    void say(const QString& text);
    // A status of the session's own: on the progress line and, in English, in the history.
    void show(const ProgressMessage& message);
    // Timed steps of an update (re-calls, the worker's start) are tied to this object, so that Cancel
    // can drop them; made on first use.
    QObject* pendingUpdateSteps();
    void dropPendingUpdateSteps();

    PluginHandler* m_pluginHandler;
    ToolSettings& m_settings;
    // Reports each update's end to listeners (dux-host, tests); a child named "updateOutcome".
    UpdateOutcome* m_outcome;
    FirmwareUpdaterThread* m_worker = nullptr;
    // The link's handler goes when its port does (a USB module that re-enumerates).
    QPointer<CommandHandlerInterface> m_handler;
    QString m_moduleKey;
    unsigned char m_moduleAddress = 1;
    State m_state = State::Updating;
    // From the update's start to its completion it holds the module and its link.
    bool m_underWay = false;
    // The kind of link of the update under way: only some links make the module come back elsewhere.
    int m_linkKind = 0;
    FirmwareImage m_image;
    // What the host asks of the update under way.
    RunOptions m_options;
    QString m_chosenFile;
    // What the module answered before its bootloader entry; empty when it was found in its bootloader.
    QString m_firmwareBeforeEntry;
    // The records say the module's last update of this file was cut short after its erase.
    bool m_resumeSuggested = false;
    // Why the link's last request was not carried out, empty when it was: the reason a failed step gives.
    QString m_requestFailure;
    // Whether the module answered the worker's last request that came back, and how many are still out.
    bool m_moduleAnswered = true;
    int m_requestsOut = 0;
    // Cancelled while a request was out: its answer, or its time-out, tells the module's state.
    bool m_stateOwed = false;
    // The worker was started and has not reported its end yet.
    bool m_workerOut = false;
    QObject* m_pendingSteps = nullptr;
    bool m_workerStartPending = false;
    BootloaderEntry m_bootloaderEntry;
    // This (GUI) thread is running the worker's erase, which the worker waits for. The erase keeps the
    // event loop going, in which the host may destroy the form and this session with it.
    bool m_inWorkerRequest = false;
};
