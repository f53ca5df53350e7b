#include "history.h"

#include "hostoptions.h"
#include "recordkeeper.h"
#include "recordstore.h"
#include "recordsummary.h"
#include "visibletext.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

constexpr const char* TableTimeFormat = "yyyy-MM-dd HH:mm:ss";
constexpr double MsPerSecond = 1000.0;
constexpr const char* ColumnGap = "  ";
// A record that waits in the spool: after its result in the table, a column of the CSV, a JSON field.
constexpr const char* SpooledMark = " (spooled)";
constexpr const char* SpooledColumn = "spooled";
constexpr const char* SpooledValue = "yes";
// A spreadsheet takes a field that starts with one of these for a formula (a tab or a carriage return
// before one, too): such a text field is kept as text by a leading apostrophe.
constexpr const char* FormulaStarts = "=+-@\t\r";
constexpr QChar TextMark = QLatin1Char('\'');
// Each level of the JSON array is indented by this much, as QJsonDocument indents.
constexpr const char* JsonIndent = "    ";
// JSON escapes the characters below this one.
constexpr ushort JsonFirstPlain = 0x20;
constexpr int SchemaField = -1;
constexpr int SpooledField = -2;

using Take = std::function<void(const UpdateRecord& record, bool spooled)>;

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

QStringList tableHeader()
{
    return {QStringLiteral("Started (UTC)"), QStringLiteral("Module"), QStringLiteral("Firmware"), QStringLiteral("Result"),
            QStringLiteral("Phase"), QStringLiteral("Station"), QStringLiteral("Serial"), QStringLiteral("Seconds"),
            QStringLiteral("Failure")};
}

QString secondsText(qint64 durationMs)
{
    return durationMs < 0 ? QString() : QString::number(durationMs / MsPerSecond, 'f', 1);
}

QStringList tableRow(const UpdateRecord& record, bool spooled)
{
    return {record.startedUtc.toUTC().toString(QLatin1String(TableTimeFormat)), visibleText(record.moduleKey),
            visibleText(record.fileIdentifier),
            UpdateRecord::resultName(record.result) + (spooled ? QLatin1String(SpooledMark) : QLatin1String()),
            visibleText(record.phase), visibleText(record.station), visibleText(record.serialNumber),
            secondsText(record.durationMs), visibleText(record.failureText)};
}

// The columns of the table whose widths vary, as forEachText reads them, and where each one goes.
const QStringList WidthColumns = {QStringLiteral("module_key"), QStringLiteral("file_identifier"), QStringLiteral("result"),
                                  QStringLiteral("phase"), QStringLiteral("station"), QStringLiteral("serial_number"),
                                  QStringLiteral("duration_ms")};
enum WidthColumn { ModuleWidth, FirmwareWidth, ResultWidth, PhaseWidth, StationWidth, SerialWidth, SecondsWidth };

// A row's cells that set the widths, from its texts alone (the start's format is as long as its text).
QStringList widthCells(const QStringList& texts, bool spooled)
{
    return {QString(int(qstrlen(TableTimeFormat)), QLatin1Char(' ')), visibleText(texts.at(ModuleWidth)),
            visibleText(texts.at(FirmwareWidth)),
            texts.at(ResultWidth) + (spooled ? QLatin1String(SpooledMark) : QLatin1String()),
            visibleText(texts.at(PhaseWidth)), visibleText(texts.at(StationWidth)), visibleText(texts.at(SerialWidth)),
            secondsText(texts.at(SecondsWidth).isEmpty() ? -1 : texts.at(SecondsWidth).toLongLong())};
}

QString tableLine(const QStringList& row, const QVector<int>& widths)
{
    QString line;
    // The last column, the failure text, is not padded.
    for (int i = 0; i < row.size(); ++i)
        line += i + 1 < row.size() ? row.at(i).leftJustified(widths[i]) + QLatin1String(ColumnGap) : row.at(i);
    return line.trimmed() + QLatin1Char('\n');
}

using TakeTexts = std::function<void(const QStringList& texts, bool spooled)>;

// Two passes over the records: the widths of the columns first, from a few of their texts, then the lines.
bool printTable(const std::function<bool(const TakeTexts&)>& eachText, const std::function<bool(const Take&)>& each,
                QTextStream& out)
{
    const QStringList header = tableHeader();
    QVector<int> widths(header.size(), 0);
    const auto widen = [&widths](const QStringList& row) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    };
    widen(header);
    if (!eachText([&widen](const QStringList& texts, bool spooled) { widen(widthCells(texts, spooled)); }))
        return false;
    out << tableLine(header, widths);
    return each([&](const UpdateRecord& record, bool spooled) { out << tableLine(tableRow(record, spooled), widths); });
}

bool printCsv(const std::function<bool(const Take&)>& each, QTextStream& out)
{
    out << UpdateRecord::columns().join(QLatin1Char(',')) << QLatin1Char(',') << SpooledColumn << QLatin1Char('\n');
    return each([&out](const UpdateRecord& record, bool spooled) {
        QStringList fields;
        for (const QVariant& value : record.values())
            fields.append(csvField(value));
        fields.append(spooled ? QLatin1String(SpooledValue) : QString());
        out << fields.join(QLatin1Char(',')) << QLatin1Char('\n');
    });
}

// A JSON text as QJsonDocument writes it: quotes, backslashes and control characters escaped, the rest
// as it is.
QString jsonString(const QString& text)
{
    const auto needsEscape = [](QChar c) {
        return c.unicode() < JsonFirstPlain || c == QLatin1Char('"') || c == QLatin1Char('\\');
    };
    if (std::none_of(text.begin(), text.end(), needsEscape))
        return QLatin1Char('"') + text + QLatin1Char('"');
    QString quoted(QLatin1Char('"'));
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': quoted += QLatin1String("\\\""); break;
        case '\\': quoted += QLatin1String("\\\\"); break;
        case '\b': quoted += QLatin1String("\\b"); break;
        case '\f': quoted += QLatin1String("\\f"); break;
        case '\n': quoted += QLatin1String("\\n"); break;
        case '\r': quoted += QLatin1String("\\r"); break;
        case '\t': quoted += QLatin1String("\\t"); break;
        default:
            quoted += c.unicode() < JsonFirstPlain ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                                                   : QString(c);
        }
    }
    return quoted + QLatin1Char('"');
}

using JsonKeys = QVector<QPair<QString, int>>;

// The object's keys in QJsonObject's order, each as its line starts, with the column it takes its
// value from (SchemaField, SpooledField: no column).
JsonKeys jsonKeys()
{
    JsonKeys keys{{QStringLiteral("schema"), SchemaField}, {QLatin1String(SpooledColumn), SpooledField}};
    const QStringList columns = UpdateRecord::columns();
    for (int i = 0; i < columns.size(); ++i)
        keys.append({UpdateRecord::jsonKey(columns.at(i)), i});
    std::sort(keys.begin(), keys.end());
    for (QPair<QString, int>& key : keys)
        key.first = QLatin1String(JsonIndent) + QLatin1String(JsonIndent) + jsonString(key.first) + QLatin1String(": ");
    return keys;
}

// Appends the record's fields to `text`, one a line; the spooled mark only on a spooled record.
void appendJsonFields(QString& text, const UpdateRecord& record, bool spooled, const JsonKeys& keys,
                      const QString& schema)
{
    const QVariantList values = record.values();
    bool firstField = true;
    for (const QPair<QString, int>& key : keys) {
        if (key.second == SpooledField && !spooled)
            continue;
        if (!firstField)
            text += QLatin1String(",\n");
        text += key.first;
        firstField = false;
        if (key.second == SchemaField) {
            text += schema;
            continue;
        }
        if (key.second == SpooledField) {
            text += QLatin1String("true");
            continue;
        }
        const QVariant& value = values.at(key.second);
        text += value.isNull() ? QStringLiteral("null")
            : value.type() == QVariant::LongLong ? QString::number(value.toLongLong())
                                                 : jsonString(value.toString());
    }
}

// Each record as UpdateRecord::toJson() makes it, in an indented array as QJsonDocument writes one,
// written field by field: a document per record took twice the time of the whole CSV.
bool printJson(const std::function<bool(const Take&)>& each, QTextStream& out)
{
    const JsonKeys keys = jsonKeys();
    const QString schema = QString::number(EndedUpdate::JsonSchema);
    out << "[\n";
    bool first = true;
    // One buffer for all the records: they are many.
    QString text;
    const bool read = each([&](const UpdateRecord& record, bool spooled) {
        text.clear();
        text += QLatin1String(first ? "" : ",\n") + QLatin1String(JsonIndent) + QLatin1String("{\n");
        appendJsonFields(text, record, spooled, keys, schema);
        text += QLatin1Char('\n') + QLatin1String(JsonIndent) + QLatin1Char('}');
        out << text;
        first = false;
    });
    out << (first ? "" : "\n") << "]\n";
    return read;
}


// What the records add up to, as text or as one JSON object; nothing when they cannot all be read.
bool printSummary(const std::function<bool(const Take&)>& each, bool json, QTextStream& out)
{
    QVector<UpdateRecord> records;
    const bool read = each([&records](const UpdateRecord& record, bool) { records.append(record); });
    const RecordSummary summary = RecordSummary::of(records);
    if (read)
        out << (json ? QString::fromUtf8(QJsonDocument(summary.toJson()).toJson()) : summary.text());
    return read;
}

RecordStore::Filter filterOf(const HostOptions& options)
{
    RecordStore::Filter filter;
    filter.module = options.moduleKeys.value(0);
    filter.firmware = options.firmwareFilter;
    filter.result = options.resultFilter;
    filter.station = options.stationFilter;
    filter.operatorName = options.operatorFilter;
    filter.serialNumber = options.serialFilter;
    filter.fixture = options.fixtureFilter;
    filter.since = options.since;
    return filter;
}

// The store of the records that wait to reach `location`; none when there is no such file.
std::unique_ptr<RecordStore> spoolOf(const QString& location)
{
    // A server's records wait in the local file; a locked file's beside it.
    const QString spoolFile = RecordStore::isServerLocation(location) ? RecordKeeper::localFile()
                                                                       : RecordKeeper::spoolBeside(location);
    if (!QFileInfo::exists(RecordStore::sqliteFile(spoolFile)))
        return nullptr;
    return std::make_unique<RecordStore>(spoolFile);
}

}

int History::run(const HostOptions& options, QTextStream& out, QTextStream& err)
{
    const QString location = RecordKeeper::configuredLocation(options.recordsLocation);
    RecordStore store(location);
    const std::unique_ptr<RecordStore> spool = spoolOf(location);
    const RecordStore::Filter filter = filterOf(options);
    QString problem;
    // Spooled records first, then the database's, through `read` of each store.
    const auto both = [&](const std::function<bool(RecordStore&, RecordStore::Table, bool)>& read) {
        if (spool && !read(*spool, RecordStore::Table::Spool, true)) {
            problem = spool->errorString();
            return false;
        }
        if (read(store, RecordStore::Table::Records, false))
            return true;
        problem = store.errorString();
        return false;
    };
    const auto each = [&](const Take& take) {
        return both([&](RecordStore& from, RecordStore::Table table, bool spooled) {
            return from.forEach(filter, [&](const UpdateRecord& record) { take(record, spooled); }, table);
        });
    };
    const auto eachText = [&](const TakeTexts& take) {
        return both([&](RecordStore& from, RecordStore::Table table, bool spooled) {
            return from.forEachText(filter, WidthColumns, [&](const QStringList& texts) { take(texts, spooled); }, table);
        });
    };

    const bool read = options.summary ? printSummary(each, options.json, out)
        : options.json                ? printJson(each, out)
        : options.csv                 ? printCsv(each, out)
                                      : printTable(eachText, each, out);
    out.flush();
    if (read)
        return HostOptions::ExitUpdated;
    err << "dux-host: the records cannot be read: " << problem << Qt::endl;
    return HostOptions::ExitUpdateFailed;
}
