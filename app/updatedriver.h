#pragma once

#include "updateoutcome.h"
#include "updateresult.h"

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
// module in the module list, types the file name and clicks Update. How the update goes and how it
// ends it learns from the plug-in's outcome object. Each history line goes out as plain text with the
// time it appeared (historyLine), and on request it is printed as well.
class UpdateDriver : public QObject
{
    Q_OBJECT
public:
    enum class StartResult { Started, NoModule, Refused };

    // `plugin` must have been given its window (init) already; lines go to `out` (null: none are printed,
    // and no picture is taken).
    UpdateDriver(ContainerInterface* plugin, QTextStream* out, QObject* parent = nullptr);

    // Key of the module to update; empty: the only listed module.
    void setModuleKey(const QString& key);
    void setFileName(const QString& fileName);
    void setPrintHistory(bool print);
    // Saves a picture of the plug-in's window once the write phase has reached `percent`.
    void setScreenshot(const QString& path, int percent);

    // A station's unit, which the plug-in's record of the update carries (UpdateRecorder::setUnit).
    struct Unit
    {
        QString serialNumber;
        QString fixture;
        QString station;
        QString operatorName;
    };
    void setUnit(const Unit& unit) { m_unit = unit; }
    // Chooses module and file and clicks Update; see errorString() when it did not start.
    StartResult start();
    QString errorString() const { return m_errorString; }
    QString moduleKey() const { return m_moduleKey; }
    QString fileVersion() const { return m_identifier; }
    // The firmware the module ran when the update started.
    QString moduleFirmware() const { return m_moduleFirmware; }
    QString phase() const { return m_phase; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    // Cancels through the plug-in: its Cancel button, or its cancel slot while the button is still
    // disabled (before the bootloader answered). The plug-in's record of the update keeps `reason`, as
    // an interruption or as a failure; a printed history tells it first, so that the plug-in's cancel
    // note after it is not taken for the user's.
    void cancel(const QString& reason, bool interrupted);
    // The plug-in's recorder of the update, null when it has none; found by start().
    QObject* recorder() const { return m_recorder; }
    // Tells `recorder` (may be null) why the update is cancelled, and with `flushWaitMs` waits that long
    // for its records: a process that ends at once keeps the reason. From any thread: it locks.
    static void tellCancelReason(QObject* recorder, const QString& reason, bool interrupted, int flushWaitMs = 0);

signals:
    void phaseChanged(const QString& phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    // The update ended, once; outcome Updated, Failed, or NotStarted when refused before its first phase.
    void ended(const UpdateResult& result);
    // A line of the update's history, with its time; also dux-host's own lines about it (what it
    // updates, why it cancels), as -v prints them.
    void historyLine(const QString& line);

private slots:
    // Connected by name to the plug-in's outcome object: its class is the plug-in's own.
    void outcomePhaseChanged(const QString& phase);
    void outcomeProgressed(qint64 bytesDone, qint64 bytesTotal);
    void outcomeFinished(const UpdateOutcome::Report& report);

private:
    bool findForm();
    bool connectOutcome();
    StartResult chooseModule();
    bool chooseFile();
    void tellHistory(bool includingUnfinishedLine);
    void tell(const QString& line);
    void checkScreenshot(int value);
    void checkBootloaderEntry();

    ContainerInterface* m_plugin;
    QTextStream* m_out;
    QString m_moduleKey;
    QString m_fileName;
    QString m_identifier;
    QString m_moduleFirmware;
    bool m_printHistory = false;
    QString m_screenshotPath;
    int m_screenshotPercent = 0;
    QString m_errorString;
    Unit m_unit;

    QObject* m_outcome = nullptr;
    QObject* m_recorder = nullptr;
    QComboBox* m_modules = nullptr;
    QLineEdit* m_fileNameEdit = nullptr;
    QLineEdit* m_fileVersion = nullptr;
    QLineEdit* m_actualFirmware = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QTextEdit* m_history = nullptr;

    QElapsedTimer m_clock;
    // Watches that the module leaves its firmware after the bootloader-entry command.
    QTimer m_entryWatch;
    QString m_entryFailure;
    QString m_phase;
    qint64 m_bytesWritten = 0;
    int m_printedUpTo = 0;
    bool m_running = false;
    bool m_screenshotTaken = false;
};
