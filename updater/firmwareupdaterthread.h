#pragma once

#include "bootloaderdialogue.h"
#include "dialoguechannel.h"
#include "firmwareimage.h"

#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>

class Command;
class CommandHandlerInterface;
class UpdateOutcome;
struct WindowedWords;
class WorkerDevice;

// Runs one bootloader dialogue per start on its own thread and is its channel: talks to the device and
// the widget only through its signals, most of them blocking-queued so that a request returns with its
// reply filled (WorkerBridge wires them), and calls the handler's settings directly.
class FirmwareUpdaterThread : public QThread, private DialogueChannel
{
    Q_OBJECT
public:
    // After a good run's completion the thread lingers this long (scaled by TimeScale) before it leaves,
    // so that the completion's receiver finishes first; whoever destroys its owner sooner waits for it.
    static constexpr int LeavesAfterCompletionMs = 100;

    FirmwareUpdaterThread();
    ~FirmwareUpdaterThread() override;

    // Stores the handler and takes its port name ("dpComPort", else its object name) for log texts.
    void setCommandHandler(CommandHandlerInterface* handler);
    // The kind of the handler's link (DUXLConnectionInterface::LinkKind); call after setCommandHandler,
    // which forgets it. Without it, the run tells the kind from the handler's name.
    void setLinkKind(int kind);
    // The firmware the next run writes; set while no run is under way.
    void setImage(const FirmwareImage& image);
    void setModuleAddress(unsigned char moduleAddress);
    // How long the next run looks for a bootloader (BootloaderDialogue::DetectionBoundMs unless set).
    void setDetectionBoundMs(int ms);
    // Whether the next run first asks the module for its checksum and leaves a module that already
    // holds the file unerased; set while no run is under way.
    void setSkipIfHeld(bool skip);
    // Whether the next run only compares the module's sums with the file's and restarts it, writing
    // nothing; set while no run is under way.
    void setVerifyOnly(bool verify);
    // Whether the run writes on where the module's flash holds the start of the file, erased after it,
    // instead of erasing.
    void setTryResume(bool wanted);
    // Whether the next run reads the module's flash back, from `first` up to `end` (-1: the flash base,
    // and the end its memory size states), instead of writing it; set while no run is under way.
    void setReadBack(bool readBack, qint64 first, qint64 end);

    void cancelUpdate();
    bool isCancelRequested() const override;
    // Ends the run's wait for a reopen and stores its outcome.
    void setReopenResult(bool opened);
    void setDeviceClosed();
    // Where the run reports its phases and progress; may be null.
    void setOutcome(UpdateOutcome* outcome);
    // Where the run reports its phases and progress; null once the widget that owns it has let go.
    UpdateOutcome* currentOutcome() const { return outcome.load(); }
    // Why the request the worker waits for was not carried out; called before its doDirectRequest returns.
    void setRequestFailure(const QString& reason);
    // Where the write phase's windowed words run and the progress line's statuses go, with their ids
    // (WorkerBridge sets it): `device`, called on `context`'s thread. A hook rather than signals, so that
    // the worker's signals stay the ones its receivers know; without it the words go one at a time.
    void setDevice(QObject* context, WorkerDevice* device);

signals:
    void doDirectRequest(Command* request, Command* reply);
    void doDirectRequestWithoutReply(Command* request);
    void handleProgressMessage(QString message);
    void handleDebugMessage(QString message);
    void handleProgressBarValue(int value);
    void handleProgressBarMaximum(int value);
    void handleUpdateCompleted(bool successful);
    void handleModuleVersion(QString version);
    void handleCloseDevice();
    void handleReopenDevice(int moduleState);
    void handleGetFirmwareVersion(QString* firmewareString, int moduleAddress);

protected:
    void run() override;

private:
    QString request(Command& request, Command& reply) override;
    int requestWindow() override;
    void requestWords(WindowedWords& words) override;
    void readFirmwareVersion(QString* version, unsigned char address) override;
    void closeDevice() override;
    void reopenDevice(Protocol::ModuleState state) override;
    void awaitReopen(Protocol::ModuleState state, int pollMs) override;
    bool isDeviceOpen() override;
    void setMaxTimeoutMS(int ms) override;
    void resetMaxTimeoutMS() override;
    void setForceProcessEvents(bool force) override;
    void setTraceMode(bool trace) override;
    unsigned char currentModuleAddress() const override;
    void pause(std::chrono::microseconds duration) override;
    void log(const QString& text) override;
    void showProgress(const ProgressMessage& message) override;
    void showModuleVersion(const QString& version) override;
    void showBarMaximum(int maximum) override;
    void showBarValue(int value) override;
    void reachPhase(UpdatePhase phase) override;
    void progress(qint64 bytesDone, qint64 bytesTotal) override;
    void noteWindow(int window) override;
    void noteSkipped() override;
    void noteResumed() override;
    void noteDifferingPages(const QVector<quint32>& pages) override;
    void noteReadBack(quint32 base, const QByteArray& bytes) override;

    // Calls `tell` with the outcome, unless there is none (any more).
    void tellOutcome(const std::function<void(UpdateOutcome&)>& tell);

    // Written on the GUI thread while the worker waits for the request, read by the worker after it.
    mutable QMutex requestFailureMutex;
    QString requestFailure;
    QPointer<QObject> deviceContext;
    WorkerDevice* device = nullptr;
    CommandHandlerInterface* commandHandler = nullptr;
    static constexpr int UnnamedLinkKind = 0;
    // What the next run updates and how, as the setters left it; its link kind unnamed until the caller
    // names it.
    BootloaderDialogue::Target target;
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> reopenResult{false};
    std::atomic<bool> reopenDone{false};
    std::atomic<bool> deviceClosed{false};
    std::atomic<unsigned char> moduleAddress{1};
    // Set and cleared on the GUI thread while the worker may run; the run reads it for each report.
    std::atomic<UpdateOutcome*> outcome{nullptr};
};
