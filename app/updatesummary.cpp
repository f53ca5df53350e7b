#include "updatesummary.h"

#include "hostoptions.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>

namespace {

constexpr double MsPerSecond = 1000.0;
constexpr const char* ColumnGap = "  ";

QString resultName(const UpdateResult& result)
{
    return result.toJson().value(QLatin1String("result")).toString();
}

bool hasOutcome(const QList<UpdateResult>& results, UpdateResult::Outcome outcome)
{
    return std::any_of(results.begin(), results.end(),
                       [outcome](const UpdateResult& result) { return result.outcome == outcome; });
}

}

namespace UpdateSummary {

QString table(const QList<UpdateResult>& results)
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    QList<QStringList> rows{{QStringLiteral("module"), QStringLiteral("result"), QStringLiteral("bytes"),
                             QStringLiteral("time"), QStringLiteral("firmware")}};
    for (const UpdateResult& result : results) {
        rows.append({result.moduleKey, resultName(result), numbers.toString(result.bytes),
                     QStringLiteral("%1 s").arg(result.elapsedMs / MsPerSecond, 0, 'f', 1),
                     result.firmwareVersion.isEmpty() ? QStringLiteral("-") : result.firmwareVersion});
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList& row : qAsConst(rows)) {
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths.at(column), row.at(column).size());
    }
    QString text;
    for (const QStringList& row : qAsConst(rows)) {
        QStringList cells;
        for (int column = 0; column < row.size(); ++column) {
            // Numbers stand right-aligned.
            const bool number = column == 2 || column == 3;
            cells.append(number ? row.at(column).rightJustified(widths.at(column))
                                : row.at(column).leftJustified(widths.at(column)));
        }
        text += cells.join(QLatin1String(ColumnGap)).trimmed() + QLatin1Char('\n');
    }
    for (const UpdateResult& result : results) {
        if (result.outcome != UpdateResult::Outcome::Updated)
            text += result.closingLine() + QLatin1Char('\n');
    }
    return text;
}

QJsonArray toJson(const QList<UpdateResult>& results)
{
    QJsonArray array;
    for (const UpdateResult& result : results)
        array.append(result.toJson());
    return array;
}

int exitCode(const QList<UpdateResult>& results)
{
    if (results.isEmpty())
        return HostOptions::ExitUsage;
    if (hasOutcome(results, UpdateResult::Outcome::Interrupted))
        return HostOptions::ExitInterrupted;
    if (hasOutcome(results, UpdateResult::Outcome::Failed) || hasOutcome(results, UpdateResult::Outcome::TimedOut))
        return HostOptions::ExitUpdateFailed;
    if (hasOutcome(results, UpdateResult::Outcome::NotStarted))
        return HostOptions::ExitUsage;
    return HostOptions::ExitUpdated;
}

}
