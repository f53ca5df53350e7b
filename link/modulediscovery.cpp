#include "modulediscovery.h"

#include "basictools.h"
#include "duxlconnectioninterface.h"
#include "global.h"
#include "linkkindrules.h"
#include "linkmodule.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portholder.h"
#include "portlistfile.h"
#include "serialcommandhandler.h"
#include "serialconnection.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>

Q_LOGGING_CATEGORY(lcDiscovery, "dux.discovery", QtInfoMsg)

namespace {
// A parked link is kept at least this long, and after that until no update thread is registered: an
// update that was just scheduled may not have registered its thread yet.
constexpr int ParkedGraceMs = 10000;
constexpr int ParkedCheckIntervalMs = 2000;
// Ports whose module is itself a USB device (CDC-ACM) re-enumerate when the module restarts.
constexpr const char* UsbModulePortPrefix = "ttyACM";
constexpr const char* UnknownType = "Unknown";

// The programs that hold a port open, empty when none can be seen.
QString holdersOf(const QSerialPortInfo& port)
{
    PortHolder holder;
    return holder.find(port.systemLocation()) ? holder.description() : QString();
}

// The part of a version text that names the module type, usable inside a key.
QString typeCodeOf(const QString& version)
{
    QString code = BasicTools::moduleTypeOf(version);
    if (code.isEmpty())
        code = version;
    code.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
    return code.isEmpty() ? QLatin1String(UnknownType) : code;
}
}

ModuleDiscovery::ModuleDiscovery(PluginHandler* handler, QObject* parent)
    : QObject(parent)
    , m_handler(handler)
{
    m_parkedTimer.setInterval(ParkedCheckIntervalMs);
    connect(&m_parkedTimer, &QTimer::timeout, this, &ModuleDiscovery::releaseParked);
}

ModuleDiscovery::~ModuleDiscovery()
{
    const QStringList ports = m_links.keys();
    for (const QString& port : ports)
        removePort(port);
    for (const ParkedConnection& parked : qAsConst(m_parked))
        delete parked.connection;
}

QString ModuleDiscovery::moduleKey(const QString& portName, const QString& moduleName, unsigned char address)
{
    return portName + QLatin1Char('/') + moduleName + QStringLiteral("/id") + QString::number(address);
}

QString ModuleDiscovery::connectionKey(const QString& portName, int linkKind)
{
    return portName + QLatin1Char('/') + QLatin1String(LinkKindRules::forKind(linkKind).name);
}

int ModuleDiscovery::linkKindOf(const QSerialPortInfo& port)
{
    if (port.description() == QLatin1String(PortListFile::UsbDescription)
        || port.portName().startsWith(QLatin1String(UsbModulePortPrefix)))
        return DUXLConnectionInterface::Usb;
    return DUXLConnectionInterface::Serial;
}

void ModuleDiscovery::setProbeAddresses(const QVector<unsigned char>& addresses)
{
    m_probeAddresses = addresses;
}

void ModuleDiscovery::setWindowLimit(int limit)
{
    m_windowLimit = limit;
}

void ModuleDiscovery::setProbeTimeoutMs(int timeoutMs)
{
    m_probeTimeoutMs = timeoutMs;
}

void ModuleDiscovery::setDataRate(int rate)
{
    m_dataRate = rate;
}

QStringList ModuleDiscovery::portNames() const
{
    return m_links.keys();
}

void ModuleDiscovery::start()
{
    connect(PeripheryManager::instance(), &PeripheryManager::handleUSBInterfaces, this,
            [this](const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>&) { update(actual); });
}

void ModuleDiscovery::update(const QList<QSerialPortInfo>& ports)
{
    // Compared with what was seen before, not with the report's old list: several listeners share
    // the reports, and one of them may have asked for a report of an unchanged list.
    QSet<QString> present;
    for (const QSerialPortInfo& port : ports)
        present.insert(port.portName());
    const QStringList known = m_links.keys();
    for (const QString& name : known) {
        if (!present.contains(name))
            removePort(name);
    }
    for (const QSerialPortInfo& port : ports) {
        if (!m_links.contains(port.portName()))
            m_links.insert(port.portName(), probe(port));
    }
    releaseParked();
}

void ModuleDiscovery::rescan()
{
    const QStringList known = m_links.keys();
    for (const QString& name : known) {
        if (!m_links.value(name).connection)
            m_links.insert(name, probe(m_links.value(name).port));
    }
}

ModuleDiscovery::Link ModuleDiscovery::probe(const QSerialPortInfo& port)
{
    Link link;
    link.port = port;
    const QString name = port.portName();
    const int kind = linkKindOf(port);
    auto* connection = new SerialConnection(connectionKey(name, kind), port, kind, m_handler);
    SerialCommandHandler* handler = connection->serialHandler();
    handler->setDataRate(m_dataRate);
    handler->setWindowLimit(m_windowLimit);
    const bool saidBefore = m_unopenable.contains(name);
    // Knocking again while the same programs hold the port would only have the link repeat its error.
    if (saidBefore && !m_unopenable.value(name).isEmpty() && holdersOf(port) == m_unopenable.value(name)) {
        delete connection;
        return link;
    }
    if (!handler->openDevice()) {
        const QString holders = holdersOf(port);
        // Another program's hold looks like a locking or permission error: name the holders instead.
        if (!saidBefore) {
            qCWarning(lcDiscovery).noquote() << name << "cannot be opened:"
                                             << (holders.isEmpty() ? handler->errorString() : QStringLiteral("held by ") + holders);
        }
        m_unopenable.insert(name, holders);
        delete connection;
        return link;
    }
    m_unopenable.remove(name);

    handler->setMaxTimeoutMS(m_probeTimeoutMs);
    for (unsigned char address : qAsConst(m_probeAddresses)) {
        const QString version = handler->getFirmwareVersion(address);
        if (version.isEmpty())
            continue;
        const QString typeCode = typeCodeOf(version);
        const QString key = moduleKey(name, LinkModule::moduleNameOf(typeCode), address);
        link.modules.append(new LinkModule(key, connection, address, typeCode, m_handler, version));
        qCDebug(lcDiscovery).noquote() << "found" << key << "running" << version;
        if (LinkKindRules::forKind(kind).oneModulePerLink)
            break;
    }
    handler->resetMaxTimeoutMS();

    if (link.modules.isEmpty()) {
        // Leave the port to others until asked to look again.
        delete connection;
        return link;
    }
    link.connection = connection;
    m_handler->addConnectionPlugin(connection->key(), connection);
    for (LinkModule* module : qAsConst(link.modules)) {
        m_handler->addModulePlugin(module->key(), module, connection->key());
        emit moduleAdded(module);
    }
    return link;
}

void ModuleDiscovery::removePort(const QString& portName)
{
    m_unopenable.remove(portName);
    const Link link = m_links.take(portName);
    for (LinkModule* module : link.modules) {
        m_handler->removeModulePlugin(module->key());
        emit moduleRemoved(module);
        module->deleteLater();
    }
    if (!link.connection)
        return;
    m_handler->removeConnectionPlugin(link.connection->key());
    link.connection->serialHandler()->closeDevice();
    if (link.connection->isActive() && link.connection->isPluginEnabled()) {
        link.connection->deleteLater();
        return;
    }
    ParkedConnection parked{link.connection, QElapsedTimer()};
    parked.since.start();
    m_parked.append(parked);
    m_parkedTimer.start();
}

void ModuleDiscovery::releaseParked()
{
    if (Global::instance(false)->registeredThreadCount() > 0)
        return;
    for (int i = m_parked.size() - 1; i >= 0; --i) {
        if (m_parked.at(i).since.elapsed() >= ParkedGraceMs)
            m_parked.takeAt(i).connection->deleteLater();
    }
    if (m_parked.isEmpty())
        m_parkedTimer.stop();
}
