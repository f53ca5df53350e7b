#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QProcess;

// The build's programs as the benchmarks run them, from the benchmarks' own folder.
namespace BenchProcesses {

// The identifier of the firmware files writeFirmware writes.
constexpr const char* FirmwareIdentifier = "1234V200";

QString program(const char* name);
// Writes a firmware file of `bytes` program bytes for the simulated modules with dux-mkfirmware.
bool writeFirmware(const QString& fileName, int bytes, QString* errorString);
// Starts dux-sim (a module of type 1234) with `arguments`, listing its port in `portList`, and waits
// until the port is served.
bool startSimulator(QProcess* simulator, const QString& portList, const QStringList& arguments,
                    QString* errorString);

// Modules served by dux-sim processes of their own, each paced like a line of `baud`, their ports
// listed in files of `folder` (portLists).
struct PacedSimulators
{
    std::vector<std::unique_ptr<QProcess>> processes;
    QStringList portLists;
};
bool startPacedSimulators(int count, int baud, const QString& folder, PacedSimulators* simulators,
                          QString* errorString);

}
