#pragma once

#include "duxlconnectioninterface.h"

#include <QMap>
#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class FakeConnectionPlugin;
class FakeModulePlugin;
class PluginHandler;
class SimulatedCommandHandler;
class SimulatedModule;

// The host side of the tool in tests: a plug-in handler with module and connection plug-ins whose
// command handlers serve simulated modules, and the machine's serial ports as PeripheryManager sees
// them. Modules on USB links re-enumerate like real ones: when their device switches between firmware
// and bootloader, the port vanishes, a new one appears, and the module is registered again under the
// new port with address 1.
class FakeHost : public QObject
{
    Q_OBJECT
public:
    struct ModuleSetup
    {
        QString port = QStringLiteral("COM3");
        int linkKind = DUXLConnectionInterface::Serial;
        QString moduleName = QStringLiteral("M");
        // PluginInterface::name(); the module name when empty.
        QString displayName;
        QString nameInFirmware = QStringLiteral("1234");
        // The version the host read when it found the module.
        QString firmwareVersion;
        unsigned char address = 1;
        // The address the device answers on while in its bootloader.
        unsigned char bootloaderAddress = 1;
        // "<port>/<module name>/id<address>" when empty.
        QString key;
        // "<port>/link" when empty.
        QString connectionKey;
        bool withConnection = true;
        bool withHandler = true;
    };

    explicit FakeHost(QObject* parent = nullptr);
    ~FakeHost() override;

    PluginHandler* pluginHandler() const;

    // Registers a module on a link of its own, served by a new simulated device, and puts its port in
    // the port list (reported with the next reportPorts()). Returns the module key.
    QString addModule(const ModuleSetup& setup);

    // Null when the key is not registered (or has no such part).
    FakeModulePlugin* module(const QString& key) const;
    FakeConnectionPlugin* connection(const QString& key) const;
    SimulatedCommandHandler* handler(const QString& key) const;
    SimulatedModule* device(const QString& key) const;
    // The key under which the host knows a device now; empty while it is being rediscovered.
    QString keyOf(const SimulatedModule* device) const;

    void addPort(const QString& name);
    void removePort(const QString& name);
    // Lets PeripheryManager read the port list and report it if it changed.
    void reportPorts();

    // The host forgets a module while it rediscovers its device tree, and knows it again afterwards.
    void withdrawModule(const QString& key);
    void restoreModule(const QString& key);

    // A USB module leaves its port and comes back on `newPort`: the removal and the arrival are
    // reported, and after registerDelayMs() the module is registered as "<newPort>/<name>/id1" on a
    // new link whose handler serves the same device. Returns that key.
    QString reenumerate(const QString& key, const QString& newPort);

    // Delays of the automatic re-enumeration of USB modules: from the device's mode switch to the
    // port change, and from the port change to the registration under the new key. A negative
    // `vanishAfterMs` turns it off (tests then call reenumerate() themselves).
    void setReenumerationDelays(int vanishAfterMs, int registerAfterMs);
    int registerDelayMs() const { return m_registerAfterMs; }

    // The next port name after `port`: its trailing number plus one ("ttyACM0" -> "ttyACM1").
    static QString nextPortName(const QString& port);

signals:
    void moduleRegistered(const QString& key);

private:
    struct Entry;
    Entry* entry(const QString& key) const;
    QString registerEntry(std::unique_ptr<Entry> entry);
    void deviceModeChanged(SimulatedModule* device);

    std::unique_ptr<PluginHandler> m_pluginHandler;
    std::vector<std::unique_ptr<SimulatedModule>> m_devices;
    // Every link and module plug-in ever made; those of a vanished port stay alive (unregistered, their
    // handler closed) so that a stale pointer in the tool shows up as a closed device, not a crash.
    std::vector<std::unique_ptr<Entry>> m_entries;
    QMap<QString, Entry*> m_registered;
    QMap<QString, Entry*> m_withdrawn;
    QStringList m_ports;
    int m_nextUsbNumber = 1;
    int m_vanishAfterMs = 0;
    int m_registerAfterMs = 0;
};
