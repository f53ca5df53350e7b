#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class ContainerInterface;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTextStream;

// Runs one update through the "Firmware update" plug-in's own form, as a user would: it picks the
// module in the module list, types the file name, clicks Update and watches the form until the update
// has ended. It prints each history line as plain text with the time it appeared, and at the end the
// module's new firmware version.
class UpdateDriver : public QObject
{
    Q_OBJECT
public:
    // `plugin` must have been given its window (init) already; lines go to `out`.
    UpdateDriver(ContainerInterface* plugin, QTextStream* out, QObject* parent = nullptr);

    // Key of the module to update; empty: the only listed module.
    void setModuleKey(const QString& key);
    void setFileName(const QString& fileName);
    // The whole update, reconnection included, must end within this time.
    void setTimeoutMs(int timeoutMs);
    // Saves a picture of the plug-in's window once the write phase has reached `percent`.
    void setScreenshot(const QString& path, int percent);

    // Chooses module and file and clicks Update; false (see errorString()) when that is not possible.
    bool start();
    QString errorString() const { return m_errorString; }

signals:
    // The update ended: with the module's new firmware version, or with the failure message.
    void finished(bool success, const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool findForm();
    bool chooseModule();
    bool chooseFile();
    void printHistory(bool includingUnfinishedLine);
    void updateEnded();
    void moduleListRebuilt(int index);
    void reportNewVersion();
    void checkScreenshot(int value);
    void timeOut();
    void finish(bool success, const QString& message);
    QString clockText() const;

    ContainerInterface* m_plugin;
    QTextStream* m_out;
    QString m_moduleKey;
    QString m_fileName;
    int m_timeoutMs;
    QString m_screenshotPath;
    int m_screenshotPercent = 0;
    QString m_errorString;
    // The status line when the update ended: the list rebuild that follows empties it.
    QString m_endProgress;

    QComboBox* m_modules = nullptr;
    QLineEdit* m_fileNameEdit = nullptr;
    QLineEdit* m_fileVersion = nullptr;
    QLineEdit* m_actualFirmware = nullptr;
    QLineEdit* m_progress = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QTextEdit* m_history = nullptr;

    QElapsedTimer m_clock;
    QTimer m_deadline;
    int m_printedUpTo = 0;
    bool m_running = false;
    bool m_endPending = false;
    // A module on a USB link restarts under a new port after the update; the plug-in then finds it
    // again ("Reconnected.") and rebuilds its module list.
    bool m_usbLink = false;
    bool m_completedSeen = false;
    bool m_reconnectedSeen = false;
    bool m_rebuiltAfterReconnection = false;
    bool m_waitingForReconnection = false;
    bool m_screenshotTaken = false;
};
