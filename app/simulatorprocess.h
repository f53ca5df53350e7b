#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class QTextStream;

// Runs dux-sim beside the host (dux-host --simulate): a simulated module on a pseudo-terminal, whose
// port is listed in a file the host reads. What the simulator prints is passed on to `out`, when given.
class SimulatorProcess : public QObject
{
    Q_OBJECT
public:
    explicit SimulatorProcess(QTextStream* out, QObject* parent = nullptr);
    // Ends the simulator.
    ~SimulatorProcess() override;

    // Starts dux-sim (from the host's own folder) with `arguments` added, and waits until it serves a port.
    bool start(const QStringList& arguments);
    QString portListFile() const;
    QString errorString() const { return m_errorString; }

private:
    void passOutputOn();

    QTextStream* m_out;
    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_errorString;
};
