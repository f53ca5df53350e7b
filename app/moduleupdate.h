#pragma once

#include "updatedriver.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>

class ContainerInterface;
class HostWindow;
class ModuleView;
class PluginHandler;
class QDialog;
class QTextStream;

// One module's update by an instance of the "Firmware update" plug-in of its own, made through the
// plug-in's factory (createInstance) and shown in a window of its own, so that it has its own worker
// and several modules are updated at once. Cancelling or failing touches no other module's update.
class ModuleUpdate : public QObject
{
    Q_OBJECT
public:
    // `plugin` is the loaded plug-in whose factory makes the instance. Notes (a window picture saved)
    // go to `out`, and with `printHistory` each line of the instance's history as it appears.
    ModuleUpdate(ContainerInterface* plugin, PluginHandler* handler, HostWindow* window, const QString& moduleKey,
                 const QString& fileName, QTextStream* out = nullptr, bool printHistory = false,
                 QObject* parent = nullptr);
    // Takes the instance and its window down (the plug-in ends its worker first).
    ~ModuleUpdate() override;

    // Chooses the module and the file in the instance's form and clicks Update; on NoModule or
    // Refused, result() tells why.
    UpdateDriver::StartResult start();
    // The station's unit the update's record carries; before start().
    void setUnit(const UpdateDriver::Unit& unit);
    // Keeps the instance's window out of sight: a station shows the update in its tile.
    void hideWindow();
    // Cancels after `seconds` without an end (the outcome then TimedOut).
    void setTimeout(int seconds);
    // The bound that a cancel with the outcome TimedOut tells, where the run keeps the time itself.
    void setCancelBound(int seconds);
    // Saves a picture of the instance's window once the write phase has reached `percent`.
    void setScreenshot(const QString& path, int percent);
    void cancel(UpdateResult::Result outcome);
    QString moduleKey() const { return m_moduleKey; }
    bool isRunning() const { return m_running; }
    // The plug-in instance's recorder of the update, null when it has none.
    QObject* recorder() const { return m_driver->recorder(); }
    // The module state so far, or how it ended.
    UpdateResult result() const;
    // Leaves the instance's window to the user, who reads its history and closes it: it outlives this
    // object, and the instance and its register go when the user closes it.
    void keepWindowOpen();
    // Deletes this object once the instance's worker has left (deleted sooner, the instance's end would
    // join the worker and hold this thread); a worker not started is given `unstartedBoundMs` to start.
    void deleteOnceWorkerLeft(int unstartedBoundMs);
    // The plug-in's worker is still at work: the plug-in may end an update on a cancel before its worker
    // has left, and the worker's last requests still go out on the module's link.
    bool workerRunning() const;

signals:
    void phaseChanged(const QString& phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    void ended(const UpdateResult& result);
    // A line of the update's history with its time, whether or not it is printed.
    void historyLine(const QString& line);

private:
    void driverEnded(const UpdateResult& result);
    // The instance's worker thread, null when it has none.
    QThread* worker() const;
    // Why the run cancelled the update.
    QString cancelText(UpdateResult::Result outcome) const;

    QString m_moduleKey;
    QString m_fileName;
    // The instance's register: declared first, so that it outlives the instance.
    std::unique_ptr<ModuleView> m_view;
    QPointer<QDialog> m_window;
    QPointer<QObject> m_instance;
    std::unique_ptr<UpdateDriver> m_driver;
    QTimer m_timeout;
    UpdateResult::Result m_cancelOutcome = UpdateResult::Result::Failed;
    bool m_cancelled = false;
    bool m_running = false;
    UpdateResult m_result;
};
