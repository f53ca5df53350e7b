#pragma once

#include "command.h"
#include "containerinterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareimage.h"
#include "toolsettings.h"

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
class FileSystemModel;
class QIcon;
class FormIcons;
class UpdateForm;
class UpdateSession;

namespace Ui {
class FirmwareUpdate;
}

// The "Firmware update" tool's form: picks a module and a HEX file, shows the history and the clock,
// and hands each step of an update to its UpdateSession, which switches the module into its
// bootloader and drives the worker thread that writes the image.
class FirmwareUpdate : public ContainerInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.dux.ContainerInterface/2.0" FILE "firmwareupdate.json")
    Q_INTERFACES(ContainerInterface)

public:
    FirmwareUpdate();
    FirmwareUpdate(QString key, PluginHandler* handler);
    ~FirmwareUpdate() override;

    QString versionInfo() override;
    // The tool takes no parameters and no messages from the host.
    void setParameter(const QString&, const QVariant&, int) override {}
    void receiveMessage(int, const QString&) override {}
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
    // A step of the first init: the session's reports that the widget itself takes.
    void connectSession();
    // The end of an update in the form: the clock's debug line and, with the file kept, the ready question.
    void concludeUpdate();

    // Loads the file, writes the loader's diagnostic lines and shows size, checksum and identifier in the
    // form when the reader came to its end; the pool scan loads every pool file with it.
    FirmwareImage loadHexFile(const QString& fileName);
    // The pool window, over the form; "Leave file in selection" only with a single module listed.
    void openPoolWindow(const QIcon& icon);
    // Loads a file the user chose and tells why it cannot be written; without an identifier, no program.
    FirmwareImage loadChosenFile(const QString& fileName);
    // Gives `image` to the worker through doFirmwareUpdate.
    void handOver();
    // Remembers the folder of a chosen file for its module, unless it is one of the pool's own copies.
    void rememberFolderOf(const QString& fileName);
    // Saves the settings and says so in the history when they could not be saved.
    void saveSettings();
    void reportUnsavedSettings();
    // A history line of plain text (paths, a module's texts), escaped so that it stays text.
    void tellUser(const QString& text);
    void clearFileInfo();
    // Identifies every pool file and enables only those that suit the selected module.
    void scanFirmwarePool(FileSystemModel* model, const QString& directory);

    Ui::FirmwareUpdate* ui = nullptr;
    // Shared with the plug-in object that made this instance and with its other instances.
    std::shared_ptr<FormIcons> formIcons;
    ToolSettings settings;
    bool moduleListLoaded = false;
    QElapsedTimer elapsedTimer;
    QTimer elapsedTimeTimer;
    QString firmwareDirectory;
    // The chosen file as handed to the worker; without a program, its problem says why (empty: no HEX file).
    FirmwareImage image;
    bool leaveSelection = false;
    // The update itself, from the press of Update to its end; holds the outcome ("updateOutcome").
    UpdateSession* session;
    UpdateForm* form = nullptr;
};
