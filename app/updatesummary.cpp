#include "updatesummary.h"

#include "hostoptions.h"
#include "visibletext.h"

#include <QLocale>
#include <QVector>

#include <algorithm>

namespace {

constexpr double MsPerSecond = 1000.0;
constexpr const char* ColumnGap = "  ";
constexpr int BytesColumn = 2;
constexpr int TimeColumn = 3;

bool hasOutcome(const QList<UpdateResult>& results, UpdateResult::Result outcome)
{
    return std::any_of(results.begin(), results.end(),
                       [outcome](const UpdateResult& result) { return result.result == outcome; });
}

int count(const QList<UpdateResult>& results, UpdateResult::Result outcome)
{
    return int(std::count_if(results.begin(), results.end(),
                             [outcome](const UpdateResult& result) { return result.result == outcome; }));
}

}

namespace UpdateSummary {

QString alignedColumns(const QList<QStringList>& rows, const QList<int>& rightAligned, const QString& indent)
{
    QVector<int> widths;
    for (const QStringList& row : rows) {
        widths.resize(qMax(widths.size(), row.size()));
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths.at(column), row.at(column).size());
    }
    QString text;
    for (const QStringList& row : rows) {
        QStringList cells;
        for (int column = 0; column < row.size(); ++column) {
            cells.append(rightAligned.contains(column) ? row.at(column).rightJustified(widths.at(column))
                                                       : row.at(column).leftJustified(widths.at(column)));
        }
        QString line = indent + cells.join(QLatin1String(ColumnGap));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString table(const QList<UpdateResult>& results)
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    QList<QStringList> rows{{QStringLiteral("module"), QStringLiteral("result"), QStringLiteral("bytes"),
                             QStringLiteral("time"), QStringLiteral("window"), QStringLiteral("firmware")}};
    for (const UpdateResult& result : results) {
        rows.append({visibleText(result.moduleKey), EndedUpdate::resultName(result.result),
                     numbers.toString(result.bytes),
                     // A run that timed nothing (a refusal, a plan, a skip) took no time of an update.
                     QStringLiteral("%1 s").arg(qMax<qint64>(result.durationMs, 0) / MsPerSecond, 0, 'f', 1),
                     result.window > 0 ? QString::number(result.window) : QStringLiteral("-"),
                     result.firmwareAfter.isEmpty() ? QStringLiteral("-") : visibleText(result.firmwareAfter)});
    }
    QString text = alignedColumns(rows, {BytesColumn, TimeColumn});
    for (const UpdateResult& result : results) {
        if (result.result != UpdateResult::Result::Updated && result.result != UpdateResult::Result::Resumed)
            text += result.closingLine() + QLatin1Char('\n');
    }
    return text;
}

QString watchCount(const QList<UpdateResult>& results, const QString& fileIdentifier)
{
    using Outcome = UpdateResult::Result;
    const int failed = int(std::count_if(results.begin(), results.end(),
                                         [](const UpdateResult& result) { return result.failed(); }));
    QString line = QStringLiteral("Watched %1 %2: %3 updated, %4 failed, %5 skipped (already on %6)")
                       .arg(results.size())
                       .arg(results.size() == 1 ? QStringLiteral("module") : QStringLiteral("modules"))
                       .arg(count(results, Outcome::Updated) + count(results, Outcome::Resumed))
                       .arg(failed)
                       .arg(count(results, Outcome::Skipped))
                       .arg(visibleText(fileIdentifier));
    const int interrupted = count(results, Outcome::Interrupted);
    if (interrupted > 0)
        line += QStringLiteral(", %1 interrupted").arg(interrupted);
    return line;
}

int exitCode(const QList<UpdateResult>& results)
{
    if (hasOutcome(results, UpdateResult::Result::Interrupted))
        return HostOptions::ExitInterrupted;
    if (std::any_of(results.begin(), results.end(), [](const UpdateResult& result) { return result.failed(); }))
        return HostOptions::ExitUpdateFailed;
    if (hasOutcome(results, UpdateResult::Result::NotStarted))
        return HostOptions::ExitUsage;
    return HostOptions::ExitUpdated;
}

}
