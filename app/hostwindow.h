#pragma once

#include "runoptions.h"
#include "updateoutcome.h"

#include <QHash>
#include <QList>
#include <QMainWindow>

class ContainerInterface;
class ModuleDiscovery;
class PluginHandler;
class QDialog;
class QAction;
class QActionGroup;
class QLabel;
class QToolBar;
class QSize;
class QTreeWidget;
class WireCapture;

// The host's main window: the modules found on the links with their firmware versions, a hint of what
// to do first, and one action per container plug-in that shows the plug-in in a window of its own.
class HostWindow : public QMainWindow
{
    Q_OBJECT
public:
    HostWindow(PluginHandler* handler, ModuleDiscovery* discovery, const QList<ContainerInterface*>& containers,
               QWidget* parent = nullptr);

    // Shows `container` in a window of its own and hands it the window (init); the window emits
    // finished(int) when it closes, which the container answers by detaching itself. None of the
    // window's buttons is a default button: Enter in a text field must not press one.
    QDialog* openContainer(ContainerInterface* container);
    // Shows the records view in a window of its own, deleted when it closes.
    QDialog* openRecords();
    // Runs the computer's check (Help menu) and shows its report in a window of its own, deleted when it closes.
    QDialog* openDoctor();
    // The plug-in folder the check looks at: the one the host loaded its plug-ins from.
    void setPluginFolder(const QString& folder);
    // What each update is asked to do (off by default): the window's choices ("Only if changed", "Verify",
    // the guards) start from these, --resume and --read-back are taken as they are. Applies to the
    // containers shown and to those opened later.
    void setRunOptions(const RunOptions& options);
    // The capture the links write to (docs/capture.md), which the window's "Capture the wire" starts
    // and stops; the action shows whether it records.
    void setWireCapture(WireCapture* capture);
    // Starts the capture into `path`, or stops it when `path` is empty; false (and the reason shown in the status bar)
    // when the file cannot be written.
    bool captureTo(const QString& path);
    // Only a file with this SHA-256 (empty: any) is written.
    void setExpectedSha256(const QString& sha256);
    // Asks the user for the expected SHA-256 (tool bar); an empty answer drops the guard.
    void chooseExpectedSha256();

private slots:
    // A container's update ended: an updated module runs the version its plug-in read back. Taken from
    // the report rather than asked again: the plug-in may be waiting on the same link for another answer.
    void outcomeFinished(const UpdateOutcome::Report& report);

private:
    // The steps of the constructor, in the order the window shows their widgets.
    void buildModuleList();
    void addContainerActions(QToolBar* tools, const QList<ContainerInterface*>& containers);
    // "Look for modules" and "Records".
    void addLookActions(QToolBar* tools, ModuleDiscovery* discovery);
    // Opens a station on the update plug-in; disabled when that plug-in is not loaded.
    void addStationAction(QToolBar* tools, const QList<ContainerInterface*>& containers, ModuleDiscovery* discovery);
    void addUpdateChoices(QToolBar* tools);
    void addCaptureAction(QToolBar* tools);
    void addSettingsMenu();
    void addHelpMenu();
    // Keeps the module list in step with the handler's modules.
    void followModules(PluginHandler* handler);
    void refreshModules();
    void showCaptureState();
    // Shows `content` in a window of its own, deleted when it closes.
    QDialog* openPanel(const QString& title, const QSize& size, QWidget* content);
    // A checkable choice of the tool bar for every update, one of `group`.
    QAction* addChoice(QToolBar* tools, QActionGroup* group, const QString& text, const char* name,
                       const QString& toolTip);
    // Sets the host's choices on `container` (dynamic properties the tool reads as each update starts).
    void applyChoices(QObject* container) const;
    void applyChoicesToShown() const;

    PluginHandler* m_handler;
    QLabel* m_hint;
    QTreeWidget* m_modules;
    QAction* m_ifChanged;
    QAction* m_capture;
    WireCapture* m_wireCapture = nullptr;
    QAction* m_verify;
    // The run options as dux-host set them; the window's choices replace their own fields.
    RunOptions m_runOptions;
    QAction* m_ifNewer;
    QAction* m_expectedSha256;
    QString m_sha256;
    QString m_pluginFolder;
    // Versions read after an update; discovery's own are older for a module that kept its key.
    QHash<QString, QString> m_updatedVersions;
};
