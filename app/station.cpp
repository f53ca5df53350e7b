#include "station.h"

#include "moduleclash.h"
#include "modulediscovery.h"
#include "modulekey.h"
#include "moduleupdate.h"
#include "nestedwaits.h"
#include "pluginhandler.h"

#include <QRegularExpression>

namespace {

constexpr int FullPercent = 100;

}

Station::Station(const Host& host, const Setup& setup, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_setup(setup)
    , m_shift(setup.stopAfter)
    , m_recorder(setup.stationName, setup.operatorName)
{
    QStringList ports = m_host.discovery->portNames();
    std::sort(ports.begin(), ports.end(), &Station::portBefore);
    for (const QString& port : qAsConst(ports))
        fixtureOfPort(port);
    connect(&m_shift, &StationShift::countsChanged, this, &Station::countsChanged);
    connect(&m_shift, &StationShift::stopped, this, [this](const QString& reason, int fixture) {
        m_recorder.recordStop(reason, fixture, m_setup.fileName, m_setup.fileIdentifier);
        emit stopChanged();
    });
    connect(&m_shift, &StationShift::restarted, this, [this] {
        m_recorder.recordRestart();
        emit stopChanged();
        for (int index = 0; index < fixtureCount(); ++index)
            startIfPlugged(index);
    });
    // First: a module's link shares the thread before its first update starts.
    NestedWaits::shareAmongModules(m_host.handler, this);
    // Queued: the register reports from inside the discovery's search, which the start of an update
    // must not run again.
    connect(m_host.handler, &PluginHandler::modulePluginAdded, this, &Station::moduleAppeared, Qt::QueuedConnection);
    connect(m_host.handler, &PluginHandler::modulePluginRemoved, this, &Station::moduleGone);
    for (const QString& key : m_host.handler->getModulePluginKeys(true))
        moduleAppeared(key);
}

Station::~Station()
{
    // The records of a stop or a restart just made are kept before the process ends.
    m_recorder.flush(StationRecorder::EndWaitMs);
}

bool Station::portBefore(const QString& port, const QString& other)
{
    // The name's trailing number counts as a number; QCollator's numeric mode needs ICU, which Qt may lack.
    static const QRegularExpression numbered(QStringLiteral("^(.*?)(\\d*)$"));
    const QRegularExpressionMatch a = numbered.match(port);
    const QRegularExpressionMatch b = numbered.match(other);
    if (a.captured(1) != b.captured(1))
        return a.captured(1) < b.captured(1);
    return a.captured(2).toULongLong() < b.captured(2).toULongLong();
}

bool Station::loadSerialList(QString* error)
{
    m_hasList = !m_setup.serialList.isEmpty();
    return !m_hasList || m_serials.load(m_setup.serialList, error);
}

int Station::fixtureOfPort(const QString& port)
{
    for (int index = 0; index < fixtureCount(); ++index) {
        if (m_fixtures.at(index)->ports.contains(port))
            return index;
    }
    auto fixture = std::make_unique<Fixture>();
    fixture->ports = QStringList{port};
    m_fixtures.push_back(std::move(fixture));
    emit fixtureAdded(fixtureCount() - 1);
    return fixtureCount() - 1;
}

int Station::fixtureAwaiting() const
{
    // Whatever module comes then is taken for it, as its update's port following takes the port that comes.
    for (int index = 0; index < fixtureCount(); ++index) {
        const Fixture& fixture = *m_fixtures.at(index);
        // Only while its update runs: a module that comes after the update ended is another unit.
        if (fixture.state == State::Running && fixture.followsModule && moduleIsAway(fixture))
            return index;
    }
    return -1;
}

bool Station::moduleIsAway(const Fixture& fixture) const
{
    return !m_host.handler->getModulePlugin(fixture.moduleKey);
}

QStringList Station::heldModules() const
{
    QStringList keys;
    for (const auto& fixture : m_fixtures) {
        if (!fixture->moduleKey.isEmpty() && fixture->state != State::Refused)
            keys.append(fixture->moduleKey);
    }
    return keys;
}

void Station::moduleAppeared(const QString& key)
{
    const QString port = ModuleKey(key).port();
    const int awaiting = fixtureAwaiting();
    const int index = awaiting >= 0 ? awaiting : fixtureOfPort(port);
    Fixture& fixture = *m_fixtures.at(index);
    if (fixture.moduleKey == key)
        return;
    fixture.moduleKey = key;
    if (awaiting >= 0) {
        fixture.ports.append(port);
        emit fixtureChanged(index);
        return;
    }
    fixture.followsModule = ModuleClash::reenumerates(*m_host.handler, key);
    // Checked as each module comes, as the station's start checked those present: one plugged in later
    // would otherwise be flashed beside another USB module.
    const QString clash = ModuleClash::of(*m_host.discovery, *m_host.handler, heldModules());
    if (!clash.isEmpty()) {
        fixture.state = State::Refused;
        fixture.message = tr("Not flashed: %1.").arg(clash);
        m_recorder.recordRefusal(key, clash, index + 1, m_setup.fileName, m_setup.fileIdentifier);
    } else if (fixture.state == State::Empty || fixture.state == State::Waiting) {
        fixture.state = fixture.serialNumber.isEmpty() ? State::Waiting : State::Ready;
    }
    emit fixtureChanged(index);
    startIfPlugged(index);
}

void Station::moduleGone(const QString& key)
{
    const int index = fixtureOfPort(ModuleKey(key).port());
    const Fixture& fixture = *m_fixtures.at(index);
    // A module that restarts at the end of its update may leave the register for a moment.
    if (fixture.state == State::Running || fixture.moduleKey != key)
        return;
    unitTakenOut(index);
}

void Station::unitTakenOut(int index)
{
    Fixture& fixture = *m_fixtures.at(index);
    fixture.moduleKey.clear();
    if (fixture.state == State::Passed || fixture.state == State::Failed || fixture.state == State::Refused)
        releaseUnit(&fixture);
    fixture.state = fixture.serialNumber.isEmpty() ? State::Empty : State::Waiting;
    emit fixtureChanged(index);
}

void Station::releaseUnit(Fixture* fixture)
{
    if (fixture->serialFromList && fixture->state != State::Passed)
        m_serials.giveBack(fixture->serialNumber);
    fixture->serialNumber.clear();
    fixture->serialFromList = false;
    fixture->message.clear();
    fixture->phase.clear();
    fixture->percent = 0;
}

QString Station::enterSerial(int index, const QString& number)
{
    Fixture& fixture = *m_fixtures.at(index);
    const QString serial = number.trimmed();
    QString refusal = fixture.state == State::Running ? tr("An update runs in this fixture.")
        : fixture.state == State::Refused             ? fixture.message
                                                      : m_shift.refusal(serial);
    for (int other = 0; refusal.isEmpty() && other < fixtureCount(); ++other) {
        if (other != index && m_fixtures.at(other)->serialNumber == serial)
            refusal = tr("%1 is in fixture %2.").arg(serial).arg(other + 1);
    }
    if (!refusal.isEmpty())
        return refusal;
    // A new unit in the fixture: what the one before left goes.
    releaseUnit(&fixture);
    fixture.serialNumber = serial;
    fixture.state = fixture.moduleKey.isEmpty() ? State::Waiting : State::Ready;
    emit fixtureChanged(index);
    startIfPlugged(index);
    return QString();
}

void Station::setFlashOnPlug(int index, bool on)
{
    m_fixtures.at(index)->flashOnPlug = on;
    startIfPlugged(index);
}

bool Station::takeFromList(Fixture* fixture)
{
    if (!m_hasList || !fixture->serialNumber.isEmpty())
        return !fixture->serialNumber.isEmpty();
    fixture->serialNumber = m_serials.take();
    fixture->serialFromList = !fixture->serialNumber.isEmpty();
    return fixture->serialFromList;
}

void Station::startIfPlugged(int index)
{
    Fixture& fixture = *m_fixtures.at(index);
    const bool waitsForUnit = fixture.state == State::Waiting || fixture.state == State::Ready;
    if (fixture.flashOnPlug && waitsForUnit && !fixture.moduleKey.isEmpty() && !m_shift.isStopped()
        && takeFromList(&fixture))
        start(index);
}

void Station::startAll()
{
    for (int index = 0; index < fixtureCount(); ++index) {
        Fixture& fixture = *m_fixtures.at(index);
        if (!fixture.moduleKey.isEmpty() && (fixture.state == State::Waiting || fixture.state == State::Ready)
            && takeFromList(&fixture))
            start(index);
    }
}

void Station::retry(int index)
{
    if (m_fixtures.at(index)->state == State::Failed)
        start(index);
}

void Station::acknowledge()
{
    m_shift.acknowledge();
}

void Station::start(int index)
{
    Fixture& fixture = *m_fixtures.at(index);
    fixture.message = m_shift.isStopped()            ? tr("The line is stopped: acknowledge the stop first.")
        : fixture.moduleKey.isEmpty()                ? tr("No module in this fixture.")
        : fixture.serialNumber.isEmpty()             ? tr("Scan or type the unit's serial number first.")
                                                     : m_shift.refusal(fixture.serialNumber);
    if (!fixture.message.isEmpty()) {
        emit fixtureChanged(index);
        return;
    }
    fixture.update = std::make_unique<ModuleUpdate>(m_host.plugin, m_host.handler, m_host.window, fixture.moduleKey,
                                                    m_setup.fileName);
    ModuleUpdate* update = fixture.update.get();
    update->hideWindow();
    update->setTimeout(m_setup.timeoutSeconds);
    update->setUnit({fixture.serialNumber, QString::number(index + 1), m_setup.stationName, m_setup.operatorName});
    connect(update, &ModuleUpdate::phaseChanged, this, [this, index](const QString& phase) {
        m_fixtures.at(index)->phase = phase;
        emit fixtureChanged(index);
    });
    connect(update, &ModuleUpdate::progressed, this, [this, index](qint64 done, qint64 total) {
        m_fixtures.at(index)->percent = total > 0 ? int(FullPercent * done / total) : 0;
        emit fixtureChanged(index);
    });
    connect(update, &ModuleUpdate::ended, this, [this, index](const UpdateResult& result) { ended(index, result); });
    fixture.state = State::Running;
    fixture.phase.clear();
    fixture.percent = 0;
    emit fixtureChanged(index);
    if (update->start() != UpdateDriver::StartResult::Started)
        ended(index, update->result());
}

void Station::ended(int index, const UpdateResult& result)
{
    Fixture& fixture = *m_fixtures.at(index);
    if (fixture.state != State::Running)
        return;
    const bool passed = result.result == UpdateResult::Result::Updated;
    fixture.state = passed ? State::Passed : State::Failed;
    fixture.message = passed ? QString() : result.failureText;
    fixture.percent = passed ? FullPercent : fixture.percent;
    emit fixtureChanged(index);
    m_shift.noteResult(index + 1, fixture.serialNumber, passed, result.failureText);
    // Its module went during the update and did not come back: the unit is out, and the next module to
    // come is not taken for it (nor flashed under its serial number by a retry).
    if (moduleIsAway(fixture))
        unitTakenOut(index);
}
