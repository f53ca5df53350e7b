#pragma once

#include "firmwareupdate.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "simflash.h"

#include <memory>

class DUXLConnectionInterface;
class DUXLModuleInterface;
class ModuleDiscovery;
class PluginHandler;
class QLineEdit;
class QPushButton;
class QTextEdit;

// The update tool as dux-host runs it, with the module served by dux-sim on a pseudo-terminal: the
// host's discovery follows the port list dux-sim keeps, the plug-in sits in its window, and every
// request crosses the wire. The module's flash holds the old firmware; the new one is a file of the
// rig. The home folder is a folder of the rig, set before the first settings are read.
class WireRig : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* ModuleType = "1234";
    static constexpr const char* OldFirmware = "1234V101";
    static constexpr const char* NewFirmware = "1234V200";
    static constexpr const char* Bootloader = "1234B101";

    WireRig();
    ~WireRig() override;

    // Starts dux-sim with `arguments` added and waits until it serves a port.
    bool startModule(const QStringList& arguments = {});
    // Starts discovery and puts a new tool in its window; true once the module is listed.
    bool startHost();
    // A new tool in a new window, as the host makes one from the plug-in.
    void startTool();
    // Ends the host as dux-host does on its way out: its windows with the tool in them, then discovery
    // (which closes the ports) and the plug-in register. dux-sim keeps running.
    void stopHost();
    // Switches the simulated module off and on (a stall ends, a vanished port comes back).
    void powerCycle();
    // What the module's flash held at its last restart, as dux-sim wrote it; invalid when it has not
    // restarted since the last look (each look takes the file away).
    SimFlash restartedFlash();
    // What the module's flash holds now: as at its last restart, or, when it has not restarted since the
    // last look, after a power cycle, which has dux-sim write it.
    SimFlash flashNow();
    // Waits until the host knows a module (any key) or does not know one.
    bool waitForModule(bool known, int timeoutMs);

    FirmwareUpdate* tool() const { return m_tool; }
    // Deletes the tool (as the host does when it unloads it); the window stays.
    void destroyTool();
    // Closes the tool's window as the user does; the tool gets finished(int).
    void closeWindow();
    // A new window for the tool (the host shows the tool again).
    void reopenWindow();

    QPushButton* button(const char* name) const;
    QLineEdit* lineEdit(const char* name) const;
    QString historyText() const;
    // Every text the status line showed since the tool was made, in order.
    QStringList progressTexts() const { return m_progressTexts; }

    // The module the host knows now (the first listed) and its link; null when none.
    DUXLModuleInterface* module() const;
    DUXLConnectionInterface* connection() const;

    // Whether dux-sim printed a line that starts with `prefix`.
    bool simulatorSaid(const QString& prefix) const;
    // Whether dux-sim printed a line that starts with `later` after the first that starts with `earlier`.
    bool simulatorSaidAfter(const QString& earlier, const QString& later) const;
    // Whether the host has the module it knows and its link for itself again: link active, link and
    // module plug-in enabled.
    bool linkHandedBack() const;
    // The firmware version the module the host knows now answers with over its link; empty when none.
    QString moduleFirmware() const;
    QString firmwareFile() const { return m_newFirmware; }
    QString homePath() const;
    QString poolPath() const;
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // As the user does: rebuilds the module list (the first module is chosen), then names the firmware file.
    bool chooseModuleAndFile(const QString& file = QString());
    // As the user does: updates with `file` (the rig's new firmware when empty) and waits until the run
    // completed, the module answers with the new firmware, the tool shows it where it follows the
    // module, and the worker has ended, and the module's flash holds the file and its stored size and
    // checksum. Fails the running test otherwise.
    void updateAndReadBack(const QString& file = QString());
    // Whether the worker thread has ended (no update thread registered with the host).
    static bool workerFinished();

private:
    void readSimulator();
    void watchProgress();

    QTemporaryDir m_dir;
    QString m_portList;
    QString m_flashOut;
    QString m_oldFirmware;
    QString m_newFirmware;
    QProcess m_simulator;
    QByteArray m_simPending;
    QStringList m_simLines;
    std::unique_ptr<PluginHandler> m_plugins;
    std::unique_ptr<ModuleDiscovery> m_discovery;
    QPointer<QDialog> m_window;
    QPointer<FirmwareUpdate> m_tool;
    QStringList m_progressTexts;
};
