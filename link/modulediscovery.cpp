#include "modulediscovery.h"

#include "basictools.h"
#include "duxlconnectioninterface.h"
#include "global.h"
#include "linkkindrules.h"
#include "linkmodule.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portholder.h"
#include "portsearch.h"
#include "serialcommandhandler.h"
#include "serialconnection.h"
#include "wirecapture.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>

Q_LOGGING_CATEGORY(lcDiscovery, "dux.discovery", QtInfoMsg)

namespace {
// A parked link is kept at least this long, and after that until no update thread is registered: an
// update that was just scheduled may not have registered its thread yet.
constexpr int ParkedGraceMs = 10000;
constexpr int ParkedCheckIntervalMs = 2000;
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

void ModuleDiscovery::setWireCapture(WireCapture* capture)
{
    m_capture = capture;
}

QStringList ModuleDiscovery::portNames() const
{
    return m_links.keys();
}

QStringList ModuleDiscovery::samePortsTwice() const
{
    QStringList pairs;
    for (auto twin = m_twins.cbegin(); twin != m_twins.cend(); ++twin) {
        const QSerialPortInfo first = m_links.value(twin.value()).port;
        pairs.append(QStringLiteral("%1 and %2 (%3)")
                         .arg(twin.value(), twin.key(), QFileInfo(first.systemLocation()).canonicalFilePath()));
    }
    return pairs;
}

QString ModuleDiscovery::twinOf(const QSerialPortInfo& port) const
{
    const QString device = QFileInfo(port.systemLocation()).canonicalFilePath();
    for (const Link& link : m_links) {
        const QSerialPortInfo& known = link.port;
        const bool sameDevice = !device.isEmpty() && QFileInfo(known.systemLocation()).canonicalFilePath() == device;
        const bool sameUsbModule = !port.serialNumber().isEmpty() && port.serialNumber() == known.serialNumber()
            && port.vendorIdentifier() == known.vendorIdentifier() && port.productIdentifier() == known.productIdentifier();
        if (sameDevice || sameUsbModule)
            return known.portName();
    }
    return QString();
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
    for (auto twin = m_twins.begin(); twin != m_twins.end();)
        twin = present.contains(twin.key()) ? twin + 1 : m_twins.erase(twin);
    QList<QSerialPortInfo> added;
    for (const QSerialPortInfo& port : ports) {
        if (m_links.contains(port.portName()) || m_twins.contains(port.portName()))
            continue;
        // Known under a name searched before, or under one just before it in this list.
        const QString twin = twinOf(port);
        if (!twin.isEmpty()) {
            m_twins.insert(port.portName(), twin);
            continue;
        }
        added.append(port);
        m_links.insert(port.portName(), Link{port, nullptr, {}});
    }
    probe(added);
    releaseParked();
}

void ModuleDiscovery::rescan()
{
    QList<QSerialPortInfo> silent;
    for (const Link& link : qAsConst(m_links)) {
        if (!link.connection)
            silent.append(link.port);
    }
    probe(silent);
}

void ModuleDiscovery::probe(const QList<QSerialPortInfo>& ports)
{
    QVector<PortSearch::Port> searched;
    for (const QSerialPortInfo& port : ports) {
        // Knocking again while the same programs hold the port would only have the link repeat its error.
        const QString heldBy = m_unopenable.value(port.portName());
        if (!heldBy.isEmpty() && holdersOf(port) == heldBy) {
            m_links.insert(port.portName(), Link{port, nullptr, {}});
            continue;
        }
        PortSearch::Port search;
        search.info = port;
        search.linkKind = LinkKindRules::kindOfPort(port.portName(), port.description());
        search.oneModule = LinkKindRules::forKind(search.linkKind).oneModulePerLink;
        searched.append(search);
    }
    PortSearch::searchAll(searched, {m_probeAddresses, m_probeTimeoutMs, m_dataRate, m_capture});
    for (const PortSearch::Port& port : qAsConst(searched))
        m_links.insert(port.info.portName(), linkOf(port));
}

ModuleDiscovery::Link ModuleDiscovery::linkOf(const PortSearch::Port& searched)
{
    Link link;
    link.port = searched.info;
    const QString name = searched.info.portName();
    if (!searched.openError.isEmpty()) {
        const QString holders = holdersOf(searched.info);
        // Another program's hold looks like a locking or permission error: name the holders instead.
        if (!m_unopenable.contains(name)) {
            qCWarning(lcDiscovery).noquote() << name << "cannot be opened:"
                                             << (holders.isEmpty() ? searched.openError : QStringLiteral("held by ") + holders);
        }
        m_unopenable.insert(name, holders);
        return link;
    }
    m_unopenable.remove(name);
    // Leave a port without a module to others until asked to look again.
    if (searched.answers.isEmpty())
        return link;

    const int kind = searched.linkKind;
    auto* connection = new SerialConnection(connectionKey(name, kind), searched.info, kind, m_handler);
    SerialCommandHandler* handler = connection->serialHandler();
    handler->setDataRate(m_dataRate);
    handler->setWindowLimit(m_windowLimit);
    handler->setWireCapture(m_capture);
    if (!handler->openDevice()) {
        qCWarning(lcDiscovery).noquote() << name << "cannot be opened:" << handler->errorString();
        delete connection;
        return link;
    }
    for (const PortSearch::Answer& answer : searched.answers) {
        const QString typeCode = typeCodeOf(answer.version);
        const QString key = moduleKey(name, LinkModule::moduleNameOf(typeCode), answer.address);
        link.modules.append(new LinkModule(key, connection, answer.address, typeCode, m_handler, answer.version));
        qCDebug(lcDiscovery).noquote() << "found" << key << "running" << answer.version;
        if (m_capture)
            m_capture->noteModule(name, key);
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
