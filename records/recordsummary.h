#pragma once

#include "updaterecord.h"

#include <QDate>
#include <QJsonObject>
#include <QMap>
#include <QVector>

// What a set of records adds up to, for a line supervisor: how many ended how, per firmware, the median
// time of an update that succeeded, where the failures happened, and the updates of each day.
struct RecordSummary
{
    using Counts = QMap<QString, int>;
    // The key of records without a firmware or a phase.
    static constexpr const char* NoneKey = "(none)";

    int total = 0;
    Counts perResult;
    Counts perFirmware;
    // Of the updates that succeeded; -1 when there is none.
    qint64 medianMs = -1;
    Counts failuresByPhase;
    QMap<QDate, Counts> perDay;

    static RecordSummary of(const QVector<UpdateRecord>& records);
    QString text() const;
    QJsonObject toJson() const;
};
