#pragma once

#include <QHash>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// A station's shift: which units passed, the counts an operator reads at a glance, and the line stop.
// After `stopAfter` failures in a row no update may start until an operator acknowledges the stop: the
// same file failing in one fixture after another is a bad file or a bad fixture, not bad units.
class StationShift : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultStopAfter = 3;
    static constexpr int TopFailureCount = 3;
    using FailureCount = QPair<QString, int>;

    explicit StationShift(int stopAfter = DefaultStopAfter, QObject* parent = nullptr);

    // Why the unit `serialNumber` may not be flashed now (not a serial number, or passed already in
    // this shift); empty when it may.
    QString refusal(const QString& serialNumber) const;
    // An update of the unit in `fixture` (numbered from 1) ended.
    void noteResult(int fixture, const QString& serialNumber, bool passed, const QString& failure);
    // The operator has looked at the stop: updates may start again.
    void acknowledge();

    bool isStopped() const { return !m_stopReason.isEmpty(); }
    QString stopReason() const { return m_stopReason; }
    int stopAfter() const { return m_stopAfter; }
    int passed() const { return m_passedUnits.size(); }
    int failed() const { return m_failedAttempts; }
    // Of the units tried in this shift, the share whose first attempt passed; -1 before any.
    double firstPassYield() const;
    // The most frequent failures, most frequent first (ties: the earlier first); at most three.
    QVector<FailureCount> topFailures() const;

signals:
    void countsChanged();
    // `reason` in the system's own words, for the records; stopReason() in the user's language.
    void stopped(const QString& reason, int fixture);
    void restarted();

private:
    int m_stopAfter;
    QSet<QString> m_passedUnits;
    QSet<QString> m_triedUnits;
    int m_firstPasses = 0;
    int m_failedAttempts = 0;
    // The failures' texts in the order first seen, and how often each came.
    QStringList m_failureOrder;
    QHash<QString, int> m_failureCounts;
    // The fixtures of the failures since the last pass or acknowledgement.
    QVector<int> m_failuresInRow;
    QString m_stopReason;
};
