#pragma once

#include "linkpacer.h"
#include "portlistfile.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ModuleServer;
class QThread;
class SimulatedModule;

// Serves several simulated modules, each on a pseudo-terminal and a thread of its own (a paced link
// sleeps between bytes, which must not hold up the other modules), and keeps all their ports in one
// port list. On request it unplugs, now and then, the module served longest that is at rest (a host
// has asked it something, and it has been left alone in its firmware since) and
// plugs in a fresh one, as an operator on a production line takes a flashed module away and puts
// the next one in.
class ModuleRack : public QObject
{
    Q_OBJECT
public:
    // Gives a new module and its server their settings; runs on the module's thread. The place counts
    // the rack's bays from 0; a module plugged in again takes the place of the one it replaces.
    using SetUp = std::function<void(SimulatedModule*, ModuleServer*, int place)>;

    // A module is at rest after this long in its firmware without a request: well above the host's
    // pause between the restart and the reconnection of an update (both scaled by DUX_TIME_SCALE).
    static constexpr int RestMs = 5000;
    // The rest is never shorter than this, scaled or not: a host that looks for modules waits up to
    // a second for each address that does not answer.
    static constexpr int LeastRestMs = 1500;
    // Between unplugging a module and plugging in the next, as an operator takes: the host notices the
    // port is gone and closes it before the system can hand the same device to the next module.
    static constexpr int ReplugGapMs = 500;

    explicit ModuleRack(SetUp setUp, QObject* parent = nullptr);
    // Takes every module away and ends their threads.
    ~ModuleRack() override;

    // Port names are this prefix and a number that all modules share (default "ttySIM").
    void setPortNamePrefix(const QString& prefix);
    // Where the present ports are announced for the host; empty: nowhere.
    void setPortListFile(const QString& path);
    // Plugs in `count` modules, one after the other; false when one could not be served.
    bool start(int count);
    // From now on, every `intervalMs` the module at rest served longest is replaced by a fresh one.
    void replugEvery(int intervalMs);
    // Switches every module off and on (see ModuleServer::powerCycle()).
    void powerCycle();
    // Arms a fault drawn at random on every module (see ModuleServer::armChaosFault()).
    void armChaosFaults();
    // Takes every module away; their pacing stays counted in pacingAccount().
    void unplugAll();
    // What the pacing of the modules taken away so far saw, all together.
    const LinkPacer::Account& pacingAccount() const { return m_pacing; }

signals:
    void unplugged(const QString& portName);
    // Announcing the ports failed.
    void failed(const QString& message);

private:
    struct Bay;

    bool plugIn(Bay* bay, int place);
    // Queues `action` to each module's server, on its own thread.
    void toEveryServer(void (ModuleServer::*action)());
    void unplug(Bay* bay);
    void replugDue();
    void plugInAgain(Bay* bay);
    bool atRest(const Bay& bay, qint64 nowNs) const;
    void announce();

    SetUp m_setUp;
    QString m_portNamePrefix = QStringLiteral("ttySIM");
    QString m_portListFile;
    // Port numbers of all modules, taken on their threads.
    std::atomic<int> m_nextPortNumber{0};
    std::vector<std::unique_ptr<Bay>> m_bays;
    QTimer m_replugTimer;
    int m_replugIntervalMs = 0;
    LinkPacer::Account m_pacing;
};
