#pragma once

#include "appsettings.h"
#include "bootloaderentry.h"
#include "command.h"
#include "containerinterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareimage.h"
#include "protocolfacts.h"
#include "workerdevice.h"

// Complete types, so that the meta-object registers the pointer types of the slots' arguments
// (Command*, QAction*, DUXLModuleInterface*) and queued calls of those slots work.
#include <QAction>
#include <QElapsedTimer>
#include <QList>
#include <QModelIndex>
#include <QSerialPortInfo>
#include <QString>
#include <QTimer>
#include <memory>

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QIcon;
class CommandHandlerInterface;
class DUXLConnectionInterface;
class FileSystemModel;
class FormIcons;
class FirmwareUpdaterThread;
struct LinkPolicy;
class UpdateOutcome;

namespace Ui {
class FirmwareUpdate;
}

// The "Firmware update" tool: picks a module and a HEX file, switches the module into its bootloader
// and drives the worker thread that writes the image, showing every step in the history.
class FirmwareUpdate : public ContainerInterface, private WorkerDevice
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.dux.ContainerInterface/2.0" FILE "firmwareupdate.json")
    Q_INTERFACES(ContainerInterface)

public:
    FirmwareUpdate();
    FirmwareUpdate(QString key, PluginHandler* handler);
    ~FirmwareUpdate() override;

    QString versionInfo() override;
    void setParameter(const QString& name, const QVariant& value, int flags) override;
    void receiveMessage(int id, const QString& text) override;
    PluginInterface* createInstance(QString key, PluginHandler* handler) override;
    void init(QWidget* parent) override;

signals:
    void handleFirmwareCompleted(QString moduleKey, QString message);

private slots:
    void on_btnRefresh_clicked();
    void on_cmbModules_currentIndexChanged(int index);
    void doFirmwareUpdate(unsigned char* progData, int programSize, int progStart, int segmentAddress,
                          int extendedLinearAddress, int ARMFlashAddress);
    void handleFirmwareDirectory(QString directory);
    void handleUpdateCompleted(bool successfull);
    void handleUpdateCompleted();
    void handleCloseDevice();
    void handleReOpenDevice(int moduleState);
    void forwardDoDirectRequest(Command* request, Command* reply);
    void forwardDoDirectRequestWithoutAnswer(Command* request);
    void dumpElapsedTime();
    void finished(int code) override;
    void handleUSBDevices(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces);
    bool fileNameChanged(QString fileName);
    void on_btnUpdate_clicked();
    void on_btnCancel_clicked();
    void handleProgressMessage(QString message);
    void handleDebugMessage(QString message);
    void handleModuleVersion(QString version);
    void handleGetFirmwareVersion(QString* version, int moduleAddress);
    void prepareSelect();
    void toolSelectAction(QAction* action);
    void doubleClickedFile(QModelIndex index);
    void parameterChanged(int state);
    void handleModulePlugin(DUXLModuleInterface* plugin, QString msg) override;

protected slots:
    void dropEvent(QDropEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;

private:
    // The module plug-in of a key, its connection plug-in and that one's command handler; each may be null.
    struct Link
    {
        DUXLModuleInterface* module = nullptr;
        DUXLConnectionInterface* connection = nullptr;
        CommandHandlerInterface* handler = nullptr;
        bool isComplete() const { return module && connection && handler; }
    };
    Link lookUpLink(const QString& moduleKey) const;
    // Gives the module and its link back to the host, unless the host makes the link anew (USB).
    static void handLinkBack(const Link& link);
    // The steps of on_btnUpdate_clicked: the first call's set-up, the version read, the return of a
    // re-enumerated module, the bootloader entry and the worker's start.
    void beginUpdate();
    QString readActiveFirmware(const Link& link);
    void continueAfterPortChange(const Link& link, const QString& version);
    void enterBootloader(const Link& link, const LinkPolicy& policy, const QString& version);
    void scheduleWorkerStart(bool inBootloader);
    // Why this update must not go on to the bootloader (plain text), empty when it may: no program,
    // a file cut short, or firmware of another module type than the one the module runs.
    QString refusalBeforeEntry(const QString& version) const;
    // Ends a refused update as a failed one, without anything sent to the module.
    void refuseUpdate(const QString& reason);
    // The completion's hand-back: the whole link with the report to the host (the version read back, or
    // "Error"), or only the connection when the module is gone.
    QString handBackAndReport(const Link& link, bool successful);
    void handConnectionBack();
    // The reopen of handleReOpenDevice for links that change their rate; each answers the worker.
    void switchToBootloaderBaud(const Link& link);
    void useRememberedLink(const Link& link, const LinkPolicy& policy, int moduleState);
    // Steps of the first init: the worker's connections, the file button's menu, the file group's tool tip.
    void connectWorker();
    // The worker's side on this thread, as WorkerBridge calls it.
    QString runRequest(Command* request, Command* reply) override;
    void runRequestWithoutReply(Command* request) override;
    void readFirmwareVersion(QString* version, int moduleAddress) override;
    void closeDevice() override;
    void reopenDevice(int moduleState) override;
    void showProgressMessage(const QString& message) override;
    void showDebugMessage(const QString& message) override;
    void showProgressBarValue(int value) override;
    void showProgressBarMaximum(int maximum) override;
    void showModuleVersion(const QString& version) override;
    void updateCompleted(bool successful) override;
    void buildSelectMenu();
    void buildFileToolTip();
    // Ends a running update and waits for the worker, which may be blocked on this (GUI) thread, and
    // deletes it; when this thread is inside the worker's request, the worker deletes itself when it ends.
    void stopWorker();

    // Loads the file, writes the loader's diagnostic lines and shows size, checksum and identifier in the
    // form when the reader came to its end; the pool scan loads every pool file with it.
    FirmwareImage loadHexFile(const QString& fileName);
    // Gives `image` to the worker through doFirmwareUpdate.
    void handOver();
    // Saves the settings and says so in the history when they could not be saved.
    void saveSettings();
    void reportUnsavedSettings();
    // A history line of plain text (paths, a module's texts), escaped so that it stays text.
    void tellUser(const QString& text);
    void clearFileInfo();
    QString firmwarePoolPath() const;
    // Builds the pool window, hidden; the pool scan shows it once the model has read the folder.
    void buildPoolWindow(const QIcon& icon);
    // Identifies every pool file and enables only those that suit the selected module.
    void scanFirmwarePool(FileSystemModel* model, const QString& directory);

    Ui::FirmwareUpdate* ui = nullptr;
    // Shared with the plug-in object that made this instance and with its other instances.
    std::shared_ptr<FormIcons> formIcons;
    AppSettings settings;
    CommandHandlerInterface* commandHandler = nullptr;
    QString actualModuleKey;
    unsigned char moduleAddress = 0;
    // The numbers are those the module-control steps are written in; no other value is stored.
    enum class UpdateState : int {
        // The module was sent to its bootloader and the update is under way.
        Updating = 0,
        Idle = 3,
    };
    UpdateState updateState = UpdateState::Updating;
    bool moduleListLoaded = false;
    QElapsedTimer elapsedTimer;
    QTimer elapsedTimeTimer;
    QString firmwareDirectory;
    // The chosen file as handed to the worker: no program when there is nothing to write, and then its
    // problem says why (empty when no HEX file was named).
    FirmwareImage image;
    // The kind of link of the update under way: only some links make the module come back elsewhere.
    int updateLinkKind = 0;
    FirmwareUpdaterThread* updater = nullptr;
    bool leaveSelection = false;

    // Timed steps of an update (re-calls of the start, the worker's start) are tied to this object, so
    // that Cancel can drop them; made on first use.
    QObject* pendingUpdateSteps();
    void dropPendingUpdateSteps();
    QObject* pendingSteps = nullptr;
    bool workerStartPending = false;
    BootloaderEntry bootloaderEntry;
    // This (GUI) thread is running the worker's erase, which the worker waits for. The erase keeps the
    // event loop going, in which the host may destroy the widget.
    bool inWorkerRequest = false;
    // Reports each update's end to listeners (dux-host, tests); a child named "updateOutcome".
    UpdateOutcome* outcome = nullptr;
    // Tells the outcome that the update of `moduleKey` is over, with the version read back ("Error"
    // when none).
    void reportOutcome(bool successful, const QString& version, const QString& moduleKey);
};
