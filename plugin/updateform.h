#pragma once

#include "updateoutcome.h"

#include <QObject>
#include <QString>

class UpdateSession;

namespace Ui {
class FirmwareUpdate;
}

// Shows an update session on the tool's form: the history, the progress line and bar, the versions
// read, the buttons an update locks and frees, and that a good update is done.
class UpdateForm : public QObject
{
    Q_OBJECT
public:
    UpdateForm(UpdateSession* session, Ui::FirmwareUpdate* ui, QObject* parent);

    // Adds one history line (markup) and echoes it to the console.
    void addHistoryLine(const QString& html);

private:
    void lock();
    void release(bool updateAllowed);
    void showActiveFirmware(const QString& version);
    void showWorkerStarting();
    void showDone(const UpdateOutcome::Report& report);

    Ui::FirmwareUpdate* m_ui;
};
