#pragma once

#include "bootloaderentry.h"
#include "firmwareimage.h"
#include "modulechoice.h"
#include "modulelink.h"
#include "progressmessage.h"
#include "runoptions.h"
#include "updateend.h"
#include "updatesteps.h"

#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QString>

class LeftStateTeller;
class PluginHandler;
class ToolSettings;
class TimedSteps;
class UpdateOutcome;
class WorkerHost;
struct LinkPolicy;

// Owns one update from the press of Update to its end: finds the module's link, sends the module to
// its bootloader, follows its link, starts the worker (hosted by WorkerHost), and ends with the pool
// copy and the outcome. Where the update stands is UpdateSteps'. Tells the form what to show through
// its signals.
class UpdateSession : public QObject
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

    // Chooses the module of the next update.
    ModuleChoice selectModule(const QString& moduleKey);
    QString moduleKey() const { return m_moduleKey; }
    // The module of the selection, which may be null.
    DUXLModuleInterface* selectedModule() const;
    // No bootloader entry of this session is under way (a worker started in the bootloader may run).
    bool isIdle() const { return m_steps.state() != UpdateSteps::State::Detached && !m_steps.entered(); }

    // The firmware the next update writes, and the path the pool copy is made from.
    void setImage(const FirmwareImage& image);
    void setChosenFile(const QString& fileName) { m_chosenFile = fileName; }
    // The worker and the tool's slots for its requests.
    WorkerHost* workerHost() const { return m_workerHost; }
    UpdateOutcome* outcome() const { return m_outcome; }

    // One call of the update: the first enters the bootloader; re-calls (timers, a port change) find
    // the module switched and start the worker. `byUser`: the call is the press of Update.
    void proceed(bool byUser);
    void cancel();
    // The host saw these ports before and now; a module on a USB link is followed to its new port.
    // Returns whether no port was removed.
    bool followPorts(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old);
public slots:
    // The end of a run: the worker's, a cancel's or a refusal's.
    void complete(bool successful) { m_end->complete(successful); }

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
    void beginUpdate();
    // The first call goes on to the worker's start only with the module in its bootloader; a later one
    // unless the module came back in its firmware, which ends the update.
    bool firstCallGoesOn(const ModuleLink& link, const QString& version);
    bool laterCallGoesOn(const ModuleLink& link, const QString& version);
    void prepareWorker(const ModuleLink& link, const QString& version, bool byUser);
    QString readActiveFirmware(const ModuleLink& link);
    void enterBootloader(const ModuleLink& link, const LinkPolicy& policy, const QString& version);
    void scheduleWorkerStart(bool inBootloader);
    void recallAfter(int delayMs);
    // The module ran the file's firmware before its bootloader entry: the first thing a skip needs.
    bool runsChosenFirmware() const;
    void refuseUpdate(const ProgressMessage& reason);
    void tellUser(const QString& text);
    void say(const QString& text);
    // A status of the session's own: on the progress line and, in English, in the history.
    void show(const ProgressMessage& message);

    PluginHandler* m_pluginHandler;
    ToolSettings& m_settings;
    // Reports each update's end to listeners (dux-host, tests); a child named "updateOutcome".
    UpdateOutcome* m_outcome;
    TimedSteps* m_timedSteps;
    WorkerHost* m_workerHost = nullptr;
    LeftStateTeller* m_leftState = nullptr;
    UpdateEnd* m_end = nullptr;
    UpdateSteps m_steps;
    QString m_moduleKey;
    unsigned char m_moduleAddress = 1;
    // The kind of link of the update under way: only some links make the module come back elsewhere.
    int m_linkKind = 0;
    FirmwareImage m_image;
    QString m_chosenFile;
    // What the host asks of the update under way.
    RunOptions m_options;
    // What the module answered before its bootloader entry; empty when it was found in its bootloader.
    QString m_firmwareBeforeEntry;
    // The records say the module's last update of this file was cut short after its erase.
    bool m_resumeSuggested = false;
    BootloaderEntry m_bootloaderEntry;
};
