#include "simulatorprocess.h"

#include "portlistfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

namespace {
constexpr const char* SimulatorProgram = "dux-sim";
constexpr const char* PortListName = "ports";
constexpr int StartTimeoutMs = 10000;
constexpr int PortPollMs = 20;
constexpr int StopTimeoutMs = 3000;
}

SimulatorProcess::SimulatorProcess(QTextStream* out, QObject* parent)
    : QObject(parent)
    , m_out(out)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimulatorProcess::passOutputOn);
}

SimulatorProcess::~SimulatorProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(StopTimeoutMs))
        m_process.kill();
    m_process.waitForFinished(StopTimeoutMs);
}

QString SimulatorProcess::portListFile() const
{
    return m_folder.filePath(QLatin1String(PortListName));
}

bool SimulatorProcess::start(const QStringList& arguments)
{
    if (!m_folder.isValid()) {
        m_errorString = tr("no temporary folder for the port list: %1").arg(m_folder.errorString());
        return false;
    }
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(SimulatorProgram));
    m_process.start(program, QStringList{QStringLiteral("--port-file"), portListFile(), QStringLiteral("--exit-with-parent")}
                                 + arguments);
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        m_errorString = tr("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (PortListFile::read(portListFile()).isEmpty()) {
        if (m_process.waitForFinished(PortPollMs)) {
            passOutputOn();
            m_errorString = tr("%1 ended with exit code %2").arg(program).arg(m_process.exitCode());
            return false;
        }
        if (clock.elapsed() > StartTimeoutMs) {
            m_errorString = tr("%1 serves no port after %2 ms").arg(program).arg(StartTimeoutMs);
            return false;
        }
    }
    passOutputOn();
    return true;
}

void SimulatorProcess::passOutputOn()
{
    while (m_process.canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        if (m_out)
            *m_out << line << Qt::endl;
    }
}
