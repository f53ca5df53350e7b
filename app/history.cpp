#include "history.h"

#include "console.h"
#include "hostoptions.h"
#include "recordkeeper.h"
#include "recordstore.h"
#include "recordsummary.h"
#include "visibletext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace {

constexpr const char* TableTimeFormat = "yyyy-MM-dd HH:mm:ss";
constexpr double MsPerSecond = 1000.0;
constexpr const char* ColumnGap = "  ";

// A spreadsheet takes a field that starts with one of these for a formula (a tab or a carriage return
// before one, too): such a text field is kept as text by a leading apostrophe.
constexpr const char* FormulaStarts = "=+-@\t\r";
constexpr QChar TextMark = QLatin1Char('\'');

QString csvField(const QVariant& value)
{
    QString text = value.isNull() ? QString() : value.toString();
    // Text from modules, users and hosts; numbers and times are ours.
    if (value.type() == QVariant::String) {
        if (!text.isEmpty() && QByteArray(FormulaStarts).contains(char(text.at(0).unicode())))
            text.prepend(TextMark);
        text = visibleText(text);
    }
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

}

QString History::table(const QVector<UpdateRecord>& records)
{
    QVector<QStringList> rows = {{QStringLiteral("Started (UTC)"), QStringLiteral("Module"), QStringLiteral("Firmware"),
                                  QStringLiteral("Result"), QStringLiteral("Phase"), QStringLiteral("Station"),
                                  QStringLiteral("Seconds"), QStringLiteral("Failure")}};
    for (const UpdateRecord& record : records) {
        rows.append({record.startedUtc.toUTC().toString(QLatin1String(TableTimeFormat)), visibleText(record.moduleKey),
                     visibleText(record.fileIdentifier), UpdateRecord::resultName(record.result),
                     visibleText(record.phase), visibleText(record.station),
                     record.durationMs < 0 ? QString() : QString::number(record.durationMs / MsPerSecond, 'f', 1),
                     visibleText(record.failureText)});
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList& row : rows) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        // The last column, the failure text, is not padded.
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths[i]) + QLatin1String(ColumnGap) : row.at(i);
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}

QString History::csv(const QVector<UpdateRecord>& records)
{
    QString text = UpdateRecord::columns().join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const UpdateRecord& record : records) {
        QStringList fields;
        for (const QVariant& value : record.values())
            fields.append(csvField(value));
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

QString History::json(const QVector<UpdateRecord>& records)
{
    QJsonArray array;
    for (const UpdateRecord& record : records)
        array.append(record.toJson());
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

int History::run(const HostOptions& options)
{
    RecordStore store(RecordKeeper::configuredLocation(options.recordsLocation));
    RecordStore::Filter filter;
    filter.module = options.moduleKeys.value(0);
    filter.firmware = options.firmwareFilter;
    filter.result = options.resultFilter;
    filter.station = options.stationFilter;
    filter.since = options.since;
    bool ok = false;
    const QVector<UpdateRecord> records = store.select(filter, &ok);
    if (!ok) {
        Console::err() << "dux-host: the records cannot be read: " << store.errorString() << Qt::endl;
        return HostOptions::ExitUpdateFailed;
    }
    if (options.summary) {
        const RecordSummary summary = RecordSummary::of(records);
        Console::out() << (options.json ? QString::fromUtf8(QJsonDocument(summary.toJson()).toJson()) : summary.text());
    } else {
        Console::out() << (options.json ? json(records) : options.csv ? csv(records) : table(records));
    }
    Console::out().flush();
    return HostOptions::ExitUpdated;
}
