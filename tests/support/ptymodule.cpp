#include "ptymodule.h"

#include "serialportdescription.h"
#include "simulatedmodule.h"

#include <QMetaObject>
#include <QThread>

PtyModule::PtyModule(int kind, const QString& portPrefix, const QString& portListFile)
{
    m_context.moveToThread(&m_thread);
    m_thread.start();
    run([&](SimulatedModule*, ModuleServer*) {
        m_module = new SimulatedModule;
        m_server = new ModuleServer(m_module);
        m_server->setLinkKind(kind);
        m_server->setPortNamePrefix(portPrefix);
        m_server->setPortListFile(portListFile);
        m_serving = m_server->start();
    });
}

PtyModule::~PtyModule()
{
    run([this](SimulatedModule*, ModuleServer*) {
        delete m_server;
        delete m_module;
    });
    m_thread.quit();
    m_thread.wait();
}

QSerialPortInfo PtyModule::port() const
{
    QString name;
    QString path;
    const_cast<PtyModule*>(this)->run([&](SimulatedModule*, ModuleServer* server) {
        name = server->portName();
        path = server->devicePath();
    });
    return describeSerialPort(name, path);
}

void PtyModule::run(const std::function<void(SimulatedModule*, ModuleServer*)>& action)
{
    QMetaObject::invokeMethod(&m_context, [&] { action(m_module, m_server); }, Qt::BlockingQueuedConnection);
}

void PtyModule::holdFor(int ms)
{
    QMetaObject::invokeMethod(&m_context, [ms] { QThread::msleep(static_cast<unsigned long>(ms)); }, Qt::QueuedConnection);
}
