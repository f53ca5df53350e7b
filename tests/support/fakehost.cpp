#include "fakehost.h"

#include "fakeconnectionplugin.h"
#include "fakemoduleplugin.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "serialportdescription.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"

#include <QRegularExpression>
#include <QTimer>

namespace {
constexpr const char* ConnectionKeySuffix = "/link";
// A freshly enumerated USB module is known under this address.
constexpr unsigned char EnumeratedAddress = 1;

QString defaultKey(const FakeHost::ModuleSetup& setup)
{
    return QStringLiteral("%1/%2/id%3").arg(setup.port, setup.moduleName).arg(setup.address);
}
}

// One registration of a module: its setup and the plug-ins made for it. The device is shared by all
// registrations of the same module.
struct FakeHost::Entry
{
    ModuleSetup setup;
    SimulatedModule* device = nullptr;
    std::unique_ptr<SimulatedCommandHandler> handler;
    std::unique_ptr<FakeConnectionPlugin> connection;
    std::unique_ptr<FakeModulePlugin> module;
};

FakeHost::FakeHost(QObject* parent)
    : QObject(parent)
    , m_pluginHandler(std::make_unique<PluginHandler>())
{
    PeripheryManager::instance()->setPortSource([this] {
        QList<QSerialPortInfo> ports;
        for (const QString& name : qAsConst(m_ports))
            ports.append(describeSerialPort(name));
        return ports;
    });
}

FakeHost::~FakeHost()
{
    // Leave PeripheryManager with an empty list, so that the next host's ports all count as added.
    m_ports.clear();
    reportPorts();
    PeripheryManager::instance()->setPortSource(nullptr);
    m_registered.clear();
    m_withdrawn.clear();
    m_entries.clear();
}

PluginHandler* FakeHost::pluginHandler() const
{
    return m_pluginHandler.get();
}

QString FakeHost::addModule(const ModuleSetup& setup)
{
    auto device = std::make_unique<SimulatedModule>();
    device->setAddress(setup.address);
    SimulatedModule* const served = device.get();
    connect(served, &SimulatedModule::modeChanged, this, [this, served] { deviceModeChanged(served); });
    m_devices.push_back(std::move(device));

    auto entry = std::make_unique<Entry>();
    entry->setup = setup;
    entry->device = served;
    addPort(setup.port);
    return registerEntry(std::move(entry));
}

QString FakeHost::registerEntry(std::unique_ptr<Entry> entry)
{
    ModuleSetup& setup = entry->setup;
    if (setup.key.isEmpty())
        setup.key = defaultKey(setup);
    if (setup.connectionKey.isEmpty())
        setup.connectionKey = setup.port + QLatin1String(ConnectionKeySuffix);
    if (setup.displayName.isEmpty())
        setup.displayName = setup.moduleName;

    if (setup.withHandler) {
        entry->handler = std::make_unique<SimulatedCommandHandler>(entry->device);
        entry->handler->setPortName(setup.port);
        if (setup.linkKind == DUXLConnectionInterface::Usb)
            entry->handler->setUsbNumber(m_nextUsbNumber++);
    }
    if (setup.withConnection) {
        entry->connection =
            std::make_unique<FakeConnectionPlugin>(setup.connectionKey, setup.linkKind, entry->handler.get());
        m_pluginHandler->addConnectionPlugin(setup.connectionKey, entry->connection.get());
    }
    entry->module = std::make_unique<FakeModulePlugin>(setup.key, setup.displayName, setup.moduleName,
                                                       setup.nameInFirmware, setup.address,
                                                       entry->connection.get());
    entry->module->setFirmwareVersion(setup.firmwareVersion);
    m_pluginHandler->addModulePlugin(setup.key, entry->module.get(), setup.connectionKey);

    const QString key = setup.key;
    m_registered.insert(key, entry.get());
    m_entries.push_back(std::move(entry));
    emit moduleRegistered(key);
    return key;
}

FakeHost::Entry* FakeHost::entry(const QString& key) const
{
    return m_registered.value(key, nullptr);
}

FakeModulePlugin* FakeHost::module(const QString& key) const
{
    Entry* found = entry(key);
    return found ? found->module.get() : nullptr;
}

FakeConnectionPlugin* FakeHost::connection(const QString& key) const
{
    Entry* found = entry(key);
    return found ? found->connection.get() : nullptr;
}

SimulatedCommandHandler* FakeHost::handler(const QString& key) const
{
    Entry* found = entry(key);
    return found ? found->handler.get() : nullptr;
}

SimulatedModule* FakeHost::device(const QString& key) const
{
    Entry* found = entry(key);
    return found ? found->device : nullptr;
}

QString FakeHost::keyOf(const SimulatedModule* device) const
{
    for (auto it = m_registered.cbegin(); it != m_registered.cend(); ++it) {
        if (it.value()->device == device)
            return it.key();
    }
    return QString();
}

void FakeHost::addPort(const QString& name)
{
    if (!m_ports.contains(name))
        m_ports.append(name);
}

void FakeHost::removePort(const QString& name)
{
    m_ports.removeAll(name);
}

void FakeHost::reportPorts()
{
    PeripheryManager::instance()->checkActualUSBDevices(true);
}

void FakeHost::withdrawModule(const QString& key)
{
    Entry* found = m_registered.take(key);
    if (!found)
        return;
    m_pluginHandler->removeModulePlugin(key);
    m_withdrawn.insert(key, found);
}

void FakeHost::restoreModule(const QString& key)
{
    Entry* found = m_withdrawn.take(key);
    if (!found)
        return;
    m_pluginHandler->addModulePlugin(key, found->module.get(), found->setup.connectionKey);
    m_registered.insert(key, found);
    emit moduleRegistered(key);
}

QString FakeHost::reenumerate(const QString& key, const QString& newPort)
{
    Entry* old = m_registered.take(key);
    if (!old)
        return QString();
    m_pluginHandler->removeModulePlugin(key);
    m_pluginHandler->removeConnectionPlugin(old->setup.connectionKey);
    if (old->handler)
        old->handler->closeDevice();
    removePort(old->setup.port);
    reportPorts();
    addPort(newPort);
    reportPorts();

    auto next = std::make_unique<Entry>();
    next->setup = old->setup;
    next->setup.port = newPort;
    next->setup.address = EnumeratedAddress;
    next->setup.key.clear();
    next->setup.connectionKey.clear();
    next->device = old->device;
    const QString newKey = defaultKey(next->setup);
    if (m_registerAfterMs <= 0) {
        registerEntry(std::move(next));
    } else {
        // std::function needs a copyable callable: hand the entry over through a shared pointer.
        auto pending = std::make_shared<std::unique_ptr<Entry>>(std::move(next));
        QTimer::singleShot(m_registerAfterMs, this, [this, pending] { registerEntry(std::move(*pending)); });
    }
    return newKey;
}

void FakeHost::setReenumerationDelays(int vanishAfterMs, int registerAfterMs)
{
    m_vanishAfterMs = vanishAfterMs;
    m_registerAfterMs = registerAfterMs;
}

void FakeHost::deviceModeChanged(SimulatedModule* device)
{
    // Keeps the bus address in step with what answers: the firmware or the bootloader.
    const QString key = keyOf(device);
    Entry* current = entry(key);
    if (!current)
        return;
    device->setAddress(device->mode() == SimulatedModule::Mode::Bootloader ? current->setup.bootloaderAddress
                                                                           : current->setup.address);
    if (current->setup.linkKind != DUXLConnectionInterface::Usb || m_vanishAfterMs < 0)
        return;
    const QString newPort = nextPortName(current->setup.port);
    QTimer::singleShot(m_vanishAfterMs, this, [this, key, newPort] { reenumerate(key, newPort); });
}

QString FakeHost::nextPortName(const QString& port)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^(.*?)(\\d*)$")).match(port);
    return match.captured(1) + QString::number(match.captured(2).toInt() + 1);
}
