#include "peripherymanager.h"

#include <QStringList>

namespace {
QStringList portNames(const QList<QSerialPortInfo>& ports)
{
    QStringList names;
    for (const QSerialPortInfo& port : ports)
        names.append(port.portName());
    return names;
}
}

PeripheryManager::PeripheryManager()
    : m_source(&QSerialPortInfo::availablePorts)
{
    qRegisterMetaType<QList<QSerialPortInfo>>("QList<QSerialPortInfo>");
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { checkActualUSBDevices(true); });
}

PeripheryManager* PeripheryManager::instance()
{
    static PeripheryManager manager;
    return &manager;
}

void PeripheryManager::setPortSource(PortSource source)
{
    m_source = source ? std::move(source) : PortSource(&QSerialPortInfo::availablePorts);
}

void PeripheryManager::setPollInterval(int intervalMs)
{
    if (intervalMs <= 0) {
        m_pollTimer.stop();
        return;
    }
    m_pollTimer.start(intervalMs);
}

void PeripheryManager::checkActualUSBDevices(bool onlyChanges)
{
    const QList<QSerialPortInfo> actual = m_source();
    if (onlyChanges && portNames(actual) == portNames(m_ports))
        return;
    const QList<QSerialPortInfo> old = m_ports;
    m_ports = actual;
    emit handleUSBInterfaces(actual, old);
}
