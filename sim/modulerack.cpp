#include "modulerack.h"

#include "linkpacer.h"
#include "moduleserver.h"
#include "simulatedmodule.h"
#include "timescale.h"

#include <QThread>

#include <algorithm>

namespace {
// How often a due replug looks again for a module at rest.
constexpr int RestPollMs = 100;
constexpr qint64 NsPerMs = 1000000;
}

// One place in the rack: a thread, and the module served on it now.
struct ModuleRack::Bay
{
    QThread thread;
    // Lives on the thread; the module and its server are made and deleted through it.
    QObject context;
    SimulatedModule* module = nullptr;
    ModuleServer* server = nullptr;
    // Counts the modules plugged in here, so that a late signal of an unplugged one is known.
    int generation = 0;
    PortListFile::Entry port;
    qint64 pluggedNs = 0;
    bool inFirmware = false;
    qint64 modeSinceNs = 0;
};

ModuleRack::ModuleRack(SetUp setUp, QObject* parent)
    : QObject(parent)
    , m_setUp(std::move(setUp))
{
    // Mode changes come from the modules' threads.
    qRegisterMetaType<SimulatedModule::Mode>();
    m_replugTimer.setSingleShot(true);
    connect(&m_replugTimer, &QTimer::timeout, this, &ModuleRack::replugDue);
}

ModuleRack::~ModuleRack()
{
    unplugAll();
    for (const std::unique_ptr<Bay>& bay : m_bays) {
        bay->thread.quit();
        bay->thread.wait();
    }
}

void ModuleRack::unplugAll()
{
    for (const std::unique_ptr<Bay>& bay : m_bays)
        unplug(bay.get());
}

void ModuleRack::setPortNamePrefix(const QString& prefix)
{
    m_portNamePrefix = prefix;
}

void ModuleRack::setPortListFile(const QString& path)
{
    m_portListFile = path;
}

bool ModuleRack::start(int count)
{
    for (int i = 0; i < count; ++i) {
        m_bays.push_back(std::make_unique<Bay>());
        Bay* bay = m_bays.back().get();
        bay->context.moveToThread(&bay->thread);
        bay->thread.start();
        if (!plugIn(bay, i))
            return false;
    }
    return true;
}

void ModuleRack::replugEvery(int intervalMs)
{
    m_replugIntervalMs = intervalMs;
    m_replugTimer.start(intervalMs);
}

void ModuleRack::powerCycle()
{
    toEveryServer(&ModuleServer::powerCycle);
}

void ModuleRack::armChaosFaults()
{
    toEveryServer(&ModuleServer::armChaosFault);
}

void ModuleRack::toEveryServer(void (ModuleServer::*action)())
{
    for (const std::unique_ptr<Bay>& bay : m_bays) {
        if (bay->server)
            QMetaObject::invokeMethod(bay->server, action);
    }
}

bool ModuleRack::plugIn(Bay* bay, int place)
{
    const int generation = ++bay->generation;
    bool started = false;
    QMetaObject::invokeMethod(
        &bay->context,
        [&] {
            bay->module = new SimulatedModule;
            bay->server = new ModuleServer(bay->module);
            m_setUp(bay->module, bay->server, place);
            bay->server->setPortNameSource(
                [this] { return m_portNamePrefix + QString::number(m_nextPortNumber++); });
            bay->inFirmware = bay->module->mode() == SimulatedModule::Mode::Firmware;
            const int linkKind = bay->server->linkKind();
            // Queued to the rack's thread, which alone writes the port list.
            connect(bay->server, &ModuleServer::portOpened, this,
                    [this, bay, generation, linkKind](const QString& name, const QString& path) {
                        if (bay->generation != generation)
                            return;
                        bay->port = {name, path, linkKind};
                        announce();
                    });
            connect(bay->server, &ModuleServer::portClosed, this, [this, bay, generation] {
                if (bay->generation != generation)
                    return;
                bay->port = {};
                announce();
            });
            connect(bay->module, &SimulatedModule::modeChanged, this,
                    [bay, generation](SimulatedModule::Mode mode) {
                        if (bay->generation != generation)
                            return;
                        bay->inFirmware = mode == SimulatedModule::Mode::Firmware;
                        bay->modeSinceNs = LinkPacer::nowNs();
                    });
            started = bay->server->start();
        },
        Qt::BlockingQueuedConnection);
    bay->pluggedNs = LinkPacer::nowNs();
    bay->modeSinceNs = bay->pluggedNs;
    return started;
}

void ModuleRack::unplug(Bay* bay)
{
    if (!bay->server)
        return;
    ++bay->generation;
    // The pseudo-terminal goes with the server, on the thread that serves it.
    QMetaObject::invokeMethod(
        &bay->context,
        [this, bay] {
            // This thread waits for the call, so the account can be added to here.
            const LinkPacer::Account& paced = bay->server->pacingAccount();
            m_pacing.replies += paced.replies;
            m_pacing.turnarounds += paced.turnarounds;
            m_pacing.turnaroundNs += paced.turnaroundNs;
            m_pacing.latenessNs += paced.latenessNs;
            delete bay->server;
            delete bay->module;
        },
        Qt::BlockingQueuedConnection);
    bay->server = nullptr;
    bay->module = nullptr;
    const QString name = bay->port.portName;
    bay->port = {};
    announce();
    if (!name.isEmpty())
        emit unplugged(name);
}

bool ModuleRack::atRest(const Bay& bay, qint64 nowNs) const
{
    const qint64 restNs = qint64(qMax(TimeScale::scaledMs(RestMs), LeastRestMs)) * NsPerMs;
    // A module no host has asked yet waits for one.
    return bay.server && bay.inFirmware && !bay.port.portName.isEmpty() && bay.server->lastRequestNs() > 0
        && nowNs - bay.modeSinceNs >= restNs && nowNs - bay.server->lastRequestNs() >= restNs;
}

void ModuleRack::replugDue()
{
    const qint64 nowNs = LinkPacer::nowNs();
    Bay* oldest = nullptr;
    for (const std::unique_ptr<Bay>& bay : m_bays) {
        if (atRest(*bay, nowNs) && (!oldest || bay->pluggedNs < oldest->pluggedNs))
            oldest = bay.get();
    }
    if (!oldest) {
        m_replugTimer.start(RestPollMs);
        return;
    }
    unplug(oldest);
    QTimer::singleShot(ReplugGapMs, this, [this, oldest] { plugInAgain(oldest); });
}

void ModuleRack::plugInAgain(Bay* bay)
{
    const auto place = std::find_if(m_bays.cbegin(), m_bays.cend(),
                                    [bay](const std::unique_ptr<Bay>& each) { return each.get() == bay; });
    if (plugIn(bay, int(place - m_bays.cbegin())))
        m_replugTimer.start(m_replugIntervalMs);
}

void ModuleRack::announce()
{
    if (m_portListFile.isEmpty())
        return;
    QList<PortListFile::Entry> entries;
    for (const std::unique_ptr<Bay>& bay : m_bays) {
        if (!bay->port.portName.isEmpty())
            entries.append(bay->port);
    }
    if (!PortListFile::write(m_portListFile, entries))
        emit failed(tr("cannot write the port list %1").arg(m_portListFile));
}
