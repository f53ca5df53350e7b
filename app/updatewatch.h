#pragma once

#include "updatejob.h"
#include "updateresult.h"

#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class ModuleUpdate;

// --watch: waits for modules and updates each one that appears, once per appearance, until SIGINT or
// SIGTERM; then tells how many were updated, failed, or skipped because they already ran the file's
// firmware. A module on a USB link comes back under a new port while it is updated: such an update
// runs alone, and the port it ends on is the same appearance, not a new module.
class UpdateWatch : public UpdateJob
{
    Q_OBJECT
public:
    UpdateWatch(const HostOptions& options, const Host& host, const QString& fileIdentifier,
                QObject* parent = nullptr);
    ~UpdateWatch() override;

    void start() override;
    void interrupt() override;
    // Each update has its own time-out; the watch itself runs until it is interrupted.
    void deadlineReached() override {}

private:
    void appeared(const QString& key);
    void gone(const QString& key);
    void startWaiting();
    bool onUsbLink(const QString& key) const;
    bool usbUpdateRunning() const;
    QString firmwareVersion(const QString& key) const;
    void updateEnded(ModuleUpdate* update, const UpdateResult& result);
    void finish();

    QString m_fileIdentifier;
    // Modules seen and not yet handled, in the order they appeared.
    QStringList m_waiting;
    // Modules updated or skipped, until they go.
    QSet<QString> m_handled;
    std::vector<std::unique_ptr<ModuleUpdate>> m_running;
    QTimer m_endWait;
    bool m_stopping = false;
    bool m_finished = false;
    int m_updated = 0;
    int m_failed = 0;
    int m_skipped = 0;
    // Cut short by the end of the watch; neither updated nor failed.
    int m_interrupted = 0;
};
