#pragma once

#include "updateoutcome.h"

#include <QHash>
#include <QList>
#include <QMainWindow>

class ContainerInterface;
class ModuleDiscovery;
class PluginHandler;
class QDialog;
class QAction;
class QLabel;
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
    // Whether updates first read the module's checksum and leave a module that already holds the file
    // as it is; off by default. Applies to the containers shown and to those opened later.
    void setIfChanged(bool on);
    bool ifChanged() const;
    // The capture the links write to (docs/capture.md), which the window's "Capture the wire" starts
    // and stops; the action shows whether it records.
    void setWireCapture(WireCapture* capture);
    // Starts the capture into `path`, or stops it when `path` is empty; false (and the reason shown in the status bar)
    // when the file cannot be written.
    bool captureTo(const QString& path);

private slots:
    // A container's update ended: an updated module runs the version its plug-in read back. Taken from
    // the report rather than asked again: the plug-in may be waiting on the same link for another answer.
    void outcomeFinished(const UpdateOutcome::Report& report);

private:
    void refreshModules();
    void applyIfChanged(QObject* container) const;
    void showCaptureState();

    PluginHandler* m_handler;
    QLabel* m_hint;
    QTreeWidget* m_modules;
    QAction* m_ifChanged;
    QAction* m_capture;
    WireCapture* m_wireCapture = nullptr;
    // Versions read after an update; discovery's own are older for a module that kept its key.
    QHash<QString, QString> m_updatedVersions;
};
