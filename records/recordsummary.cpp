#include "recordsummary.h"

#include <QTextStream>
#include <algorithm>

namespace {

QString orNone(const QString& text)
{
    return text.isEmpty() ? QLatin1String(RecordSummary::NoneKey) : text;
}

QJsonObject countsJson(const RecordSummary::Counts& counts)
{
    QJsonObject object;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

void printCounts(QTextStream& out, const char* title, const RecordSummary::Counts& counts)
{
    out << title << ":\n";
    if (counts.isEmpty())
        out << "  none\n";
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        out << "  " << qSetFieldWidth(24) << Qt::left << it.key() << qSetFieldWidth(0) << it.value() << '\n';
}

}

RecordSummary RecordSummary::of(const QVector<UpdateRecord>& records)
{
    RecordSummary summary;
    QVector<qint64> durations;
    for (const UpdateRecord& record : records) {
        const QString result = UpdateRecord::resultName(record.result);
        ++summary.total;
        ++summary.perResult[result];
        ++summary.perFirmware[orNone(record.fileIdentifier)];
        ++summary.perDay[record.startedUtc.toUTC().date()][result];
        if (record.result == UpdateRecord::Result::Failed)
            ++summary.failuresByPhase[orNone(record.phase)];
        if (record.result == UpdateRecord::Result::Updated && record.durationMs >= 0)
            durations.append(record.durationMs);
    }
    if (!durations.isEmpty()) {
        std::sort(durations.begin(), durations.end());
        const int middle = durations.size() / 2;
        summary.medianMs = durations.size() % 2 ? durations.at(middle) : (durations.at(middle - 1) + durations.at(middle)) / 2;
    }
    return summary;
}

QString RecordSummary::text() const
{
    QString text;
    QTextStream out(&text);
    out << total << (total == 1 ? " record" : " records") << "; median time of an update: "
        << (medianMs < 0 ? QStringLiteral("none") : QStringLiteral("%1 s").arg(medianMs / 1000.0, 0, 'f', 1)) << '\n';
    printCounts(out, "Per result", perResult);
    printCounts(out, "Per firmware", perFirmware);
    printCounts(out, "Failures by phase", failuresByPhase);
    return text;
}

QJsonObject RecordSummary::toJson() const
{
    return QJsonObject{
        {QStringLiteral("schema"), EndedUpdate::JsonSchema},
        {QStringLiteral("records"), total},
        {QStringLiteral("perResult"), countsJson(perResult)},
        {QStringLiteral("perFirmware"), countsJson(perFirmware)},
        {QStringLiteral("medianMs"), medianMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(medianMs))},
        {QStringLiteral("failuresByPhase"), countsJson(failuresByPhase)},
    };
}
