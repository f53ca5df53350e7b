#include "stationshift.h"

#include "stationserials.h"

#include <algorithm>

namespace {

constexpr const char* StopText = QT_TRANSLATE_N_NOOP(
    "StationShift", "The line stopped after failures in a row: %n, in fixtures %1. The same file failing in one fixture "
                    "after another usually means a bad file or a bad fixture: check them, then acknowledge. The last "
                    "failure: %2");

}

StationShift::StationShift(int stopAfter, QObject* parent)
    : QObject(parent)
    , m_stopAfter(stopAfter)
{
}

QString StationShift::refusal(const QString& serialNumber) const
{
    const QString problem = StationSerials::problemOf(serialNumber);
    if (!problem.isEmpty())
        return problem;
    if (m_passedUnits.contains(serialNumber))
        return tr("%1 passed already in this shift.").arg(serialNumber);
    return QString();
}

void StationShift::noteResult(int fixture, const QString& serialNumber, bool passed, const QString& failure)
{
    const bool firstAttempt = !m_triedUnits.contains(serialNumber);
    m_triedUnits.insert(serialNumber);
    if (passed) {
        m_passedUnits.insert(serialNumber);
        m_firstPasses += firstAttempt ? 1 : 0;
        m_failuresInRow.clear();
        emit countsChanged();
        return;
    }
    ++m_failedAttempts;
    if (!m_failureCounts.contains(failure))
        m_failureOrder.append(failure);
    ++m_failureCounts[failure];
    m_failuresInRow.append(fixture);
    emit countsChanged();
    if (isStopped() || m_failuresInRow.size() < m_stopAfter)
        return;
    QStringList fixtures;
    for (int failedFixture : qAsConst(m_failuresInRow))
        fixtures.append(QString::number(failedFixture));
    const QString fixtureList = fixtures.join(QStringLiteral(", "));
    const int count = m_failuresInRow.size();
    m_stopReason = tr(StopText, nullptr, count).arg(fixtureList, failure);
    // The records keep the system's own words, whatever language the window speaks.
    const QString recorded = QString::fromLatin1(StopText).replace(QLatin1String("%n"), QString::number(count)).arg(fixtureList, failure);
    emit stopped(recorded, fixture);
}

void StationShift::acknowledge()
{
    if (!isStopped())
        return;
    m_stopReason.clear();
    m_failuresInRow.clear();
    emit restarted();
}

double StationShift::firstPassYield() const
{
    return m_triedUnits.isEmpty() ? -1 : double(m_firstPasses) / m_triedUnits.size();
}

QVector<StationShift::FailureCount> StationShift::topFailures() const
{
    QVector<FailureCount> failures;
    for (const QString& failure : m_failureOrder)
        failures.append({failure, m_failureCounts.value(failure)});
    std::stable_sort(failures.begin(), failures.end(),
                     [](const FailureCount& a, const FailureCount& b) { return a.second > b.second; });
    return failures.mid(0, TopFailureCount);
}
