#pragma once

#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QTimer>
#include <functional>

// Watches the serial ports of the machine and reports every change to whoever listens.
class PeripheryManager : public QObject
{
    Q_OBJECT
public:
    using PortSource = std::function<QList<QSerialPortInfo>()>;

    static PeripheryManager* instance();

    // Where the present ports come from; Qt's enumeration by default (it does not list pseudo-terminals).
    void setPortSource(PortSource source);
    // Polls the port source every `intervalMs` and reports changes; 0 stops polling.
    void setPollInterval(int intervalMs);

    QList<QSerialPortInfo> currentPorts() const { return m_ports; }

public slots:
    // Reads the present ports and reports them; with `onlyChanges` only when the set of names changed.
    void checkActualUSBDevices(bool onlyChanges);

signals:
    void handleUSBInterfaces(QList<QSerialPortInfo> actualInterfaces, QList<QSerialPortInfo> oldInterfaces);

private:
    PeripheryManager();

    PortSource m_source;
    QList<QSerialPortInfo> m_ports;
    QTimer m_pollTimer;
};

Q_DECLARE_METATYPE(QSerialPortInfo)
