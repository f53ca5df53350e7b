#pragma once

#include "hostparts.h"
#include "stationrecorder.h"
#include "stationserials.h"
#include "stationshift.h"
#include "updateresult.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

class ModuleUpdate;

// A production station: one fixture per port, each holding one unit, flashed with one file. It pairs
// each fixture's module with its unit's serial number, starts the updates through the plug-in as
// dux-host does for several modules (so that each leaves its record, with the unit on it), and keeps
// the shift's counts and the line stop.
class Station : public QObject
{
    Q_OBJECT
public:
    struct Setup
    {
        QString fileName;
        QString fileIdentifier;
        QString stationName;
        QString operatorName;
        // A list of serial numbers handed out in order; empty: typed or scanned.
        QString serialList;
        int stopAfter = StationShift::DefaultStopAfter;
        // Each update is cancelled (and fails) after this long.
        int timeoutSeconds = 0;
    };
    using Host = HostParts;
    // Refused: its module may not be flashed beside the others (ModuleClash) until it is taken out.
    enum class State { Empty, Waiting, Ready, Running, Passed, Failed, Refused };
    struct Fixture
    {
        // The fixture's first port, then each a USB module came back under while it was flashed here.
        QStringList ports;
        QString moduleKey;
        // A USB module leaves its port when it restarts and comes back under a new one: the fixture follows it.
        bool followsModule = false;
        QString serialNumber;
        bool serialFromList = false;
        bool flashOnPlug = false;
        State state = State::Empty;
        QString phase;
        int percent = 0;
        // Why the fixture did not start, or how its update failed.
        QString message;
        std::unique_ptr<ModuleUpdate> update;
    };

    Station(const Host& host, const Setup& setup, QObject* parent = nullptr);
    ~Station() override;
    // Reads the setup's serial list, if any; false with `error` for one that cannot be used.
    bool loadSerialList(QString* error);

    // Fixtures are numbered as an operator counts ports: ttyUSB2 before ttyUSB10.
    static bool portBefore(const QString& port, const QString& other);

    int fixtureCount() const { return int(m_fixtures.size()); }
    const Fixture& fixture(int index) const { return *m_fixtures.at(index); }
    const StationShift& shift() const { return m_shift; }
    const Setup& setup() const { return m_setup; }

    // A unit's serial number, typed or scanned, for fixture `index`; the refusal, empty when taken.
    QString enterSerial(int index, const QString& number);
    void setFlashOnPlug(int index, bool on);
    // Starts every fixture that holds a module and a unit; with a list, units without a number take the next.
    void startAll();
    // Flashes the unit of fixture `index` again, under the same serial number.
    void retry(int index);
    void acknowledge();

signals:
    void fixtureChanged(int index);
    void fixtureAdded(int index);
    void countsChanged();
    void stopChanged();

private:
    int fixtureOfPort(const QString& port);
    // The fixture whose USB module left its port during its update, to come back under a new one; -1: none.
    int fixtureAwaiting() const;
    // The module of the fixture, which has one, has left the host's register.
    bool moduleIsAway(const Fixture& fixture) const;
    // The modules of the fixtures that may be flashed.
    QStringList heldModules() const;
    void moduleAppeared(const QString& key);
    void moduleGone(const QString& key);
    // The unit in `index` was taken out: its tile clears, and a failed unit's list number goes back.
    void unitTakenOut(int index);
    // Starts fixture `index` when flash-on-plug holds and it has all it needs.
    void startIfPlugged(int index);
    void start(int index);
    void ended(int index, const UpdateResult& result);
    // The unit left the fixture: a number from the list that it did not use goes back.
    void releaseUnit(Fixture* fixture);
    bool takeFromList(Fixture* fixture);

    Host m_host;
    Setup m_setup;
    StationShift m_shift;
    StationRecorder m_recorder;
    StationSerials m_serials;
    bool m_hasList = false;
    std::vector<std::unique_ptr<Fixture>> m_fixtures;
};
