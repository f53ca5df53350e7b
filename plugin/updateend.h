#pragma once

#include "progressmessage.h"

#include <QObject>
#include <QString>

class FirmwareImage;
class LeftStateTeller;
class PluginHandler;
class ToolSettings;
class UpdateOutcome;
class UpdateSteps;
class WorkerHost;
struct ModuleLink;

// The end of an update, one path for every kind of link: gives the module and its link back, tells the
// host, keeps the pool copy and reports the outcome. A module that restarts under a new port (USB)
// ends the update when it is back in its firmware; one the host does not know yet is waited for.
class UpdateEnd : public QObject
{
    Q_OBJECT
public:
    // The session's parts the end reads and moves; `moduleKey`, `image` and `chosenFile` are the
    // session's own, which change between updates.
    struct Parts
    {
        PluginHandler* pluginHandler;
        ToolSettings& settings;
        const QString& moduleKey;
        const FirmwareImage& image;
        const QString& chosenFile;
        UpdateOutcome& outcome;
        WorkerHost& workerHost;
        LeftStateTeller& leftState;
        UpdateSteps& steps;
    };
    UpdateEnd(const Parts& parts, QObject* parent);

    // The end of a run: the worker's, a cancel's or a refusal's.
    void complete(bool successful);
    // The module came back in its firmware under its new port after a good run.
    void completeOnReturn(const ModuleLink& link, const QString& version);

signals:
    void progressText(ProgressMessage message);
    void historyLine(QString html);
    void historyMark(QString text);
    void released(bool updateAllowed);
    void activeFirmwareShown(QString version);
    void firmwareCompleted(QString moduleKey, QString message);
    void listRebuildWanted();
    // The update is over: its pending steps go. Then, unless the module came back under a new port,
    // the form concludes it.
    void over();
    void concluded();

private:
    enum class Ending { Here, OnReturn };

    // The completion's hand-over of a known link: the report to the host, the version shown, the pool copy.
    QString handOver(const ModuleLink& link, bool successful);
    // The whole link with the report to the host (the version read back, or "Error").
    QString handBackAndReport(const ModuleLink& link, bool successful);
    void finish(bool successful, const QString& version, Ending ending);
    void reportOutcome(bool successful, const QString& version, const QString& moduleKey);

    Parts m_parts;
};
