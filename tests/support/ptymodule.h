#pragma once

#include "moduleserver.h"

#include <QSerialPortInfo>
#include <QThread>
#include <functional>

class SimulatedModule;

// A simulated module served on a pseudo-terminal by a thread of its own, so that a test can block in a
// command handler on its own thread while the module answers.
class PtyModule
{
public:
    PtyModule(int kind = DUXLConnectionInterface::Serial,
              const QString& portPrefix = QStringLiteral("ttySIM"), const QString& portListFile = QString());
    ~PtyModule();

    bool isServing() const { return m_serving; }
    // The port as the host sees it (name and device path), described for QSerialPort.
    QSerialPortInfo port() const;

    // Runs `action` with the module and its server on the serving thread and waits for it.
    void run(const std::function<void(SimulatedModule*, ModuleServer*)>& action);
    // Keeps the module busy for `ms` from now, without waiting for it: what the host sends meanwhile
    // reaches the module at once, as on a module busy answering.
    void holdFor(int ms);

private:
    QThread m_thread;
    // Lives on the serving thread; work is queued to it.
    QObject m_context;
    SimulatedModule* m_module = nullptr;
    ModuleServer* m_server = nullptr;
    bool m_serving = false;
};
