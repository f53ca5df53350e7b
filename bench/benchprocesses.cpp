#include "benchprocesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {
constexpr const char* ModuleType = "1234";
constexpr int ProcessTimeoutMs = 30000;
constexpr int PortPollMs = 20;
}

namespace BenchProcesses {

QString program(const char* name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(name));
}

bool writeFirmware(const QString& fileName, int bytes, QString* errorString)
{
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedChannels);
    writer.start(program("dux-mkfirmware"), {QStringLiteral("--identifier"), QLatin1String(FirmwareIdentifier),
                                             QStringLiteral("--size"), QString::number(bytes),
                                             QStringLiteral("--output"), fileName});
    if (!writer.waitForFinished(ProcessTimeoutMs) || writer.exitStatus() != QProcess::NormalExit
        || writer.exitCode() != 0) {
        *errorString = QStringLiteral("dux-mkfirmware could not write %1").arg(fileName);
        return false;
    }
    return true;
}

bool startSimulator(QProcess* simulator, const QString& portList, const QStringList& arguments,
                    QString* errorString)
{
    QFile::remove(portList);
    simulator->setStandardOutputFile(QProcess::nullDevice());
    simulator->start(program("dux-sim"), QStringList{QStringLiteral("--type"), QLatin1String(ModuleType),
                                                     QStringLiteral("--port-file"), portList,
                                                     QStringLiteral("--exit-with-parent")}
                                             + arguments);
    QElapsedTimer clock;
    clock.start();
    while (simulator->waitForStarted(ProcessTimeoutMs) && QFileInfo(portList).size() == 0) {
        if (clock.elapsed() > ProcessTimeoutMs || simulator->state() != QProcess::Running) {
            *errorString = QStringLiteral("dux-sim serves no port");
            return false;
        }
        QThread::msleep(PortPollMs);
    }
    if (QFileInfo(portList).size() == 0) {
        *errorString = QStringLiteral("dux-sim did not start: %1").arg(simulator->errorString());
        return false;
    }
    return true;
}

bool startPacedSimulators(int count, int baud, const QString& folder, PacedSimulators* simulators,
                          QString* errorString)
{
    for (int i = 0; i < count; ++i) {
        simulators->processes.push_back(std::make_unique<QProcess>());
        simulators->portLists.append(QDir(folder).filePath(QStringLiteral("ports%1").arg(i)));
        if (!startSimulator(simulators->processes.back().get(), simulators->portLists.last(),
                            {QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--port-prefix"),
                             QStringLiteral("ttyM%1_").arg(i)},
                            errorString))
            return false;
    }
    return true;
}

}
