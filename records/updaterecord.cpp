#include "updaterecord.h"

#include "modulekey.h"

#include <QHash>
#include <QJsonValue>

namespace {

constexpr int Unknown = -1;

QVariant textValue(const QString& text)
{
    return text.isEmpty() ? QVariant(QVariant::String) : QVariant(text);
}

QVariant numberValue(qint64 number)
{
    return number == Unknown ? QVariant(QVariant::LongLong) : QVariant(number);
}

qint64 numberOf(const QVariant& value)
{
    return value.isNull() ? Unknown : value.toLongLong();
}

}

const QStringList& UpdateRecord::columns()
{
    static const QStringList names = {
        QStringLiteral("id"),           QStringLiteral("started_utc"),     QStringLiteral("duration_ms"),
        QStringLiteral("tool_version"), QStringLiteral("station"),         QStringLiteral("operator"),
        QStringLiteral("module_key"),   QStringLiteral("port"),            QStringLiteral("link_kind"),
        QStringLiteral("module_type"),  QStringLiteral("address"),         QStringLiteral("firmware_before"),
        QStringLiteral("firmware_after"), QStringLiteral("file_name"),     QStringLiteral("file_sha256"),
        QStringLiteral("file_identifier"), QStringLiteral("file_bytes"),   QStringLiteral("file_checksum"),
        QStringLiteral("result"),       QStringLiteral("phase"),           QStringLiteral("failure"),
        QStringLiteral("serial_number"), QStringLiteral("fixture"),
    };
    return names;
}

QVariantList UpdateRecord::values() const
{
    const ModuleKey key(moduleKey);
    return {id,
            timeText(startedUtc),
            numberValue(durationMs),
            textValue(toolVersion),
            textValue(station),
            textValue(operatorName),
            textValue(moduleKey),
            textValue(key.port()),
            textValue(linkKind),
            textValue(key.moduleType()),
            textValue(key.address()),
            textValue(firmwareBefore),
            textValue(firmwareAfter),
            textValue(fileName),
            textValue(fileSha256),
            textValue(fileIdentifier),
            numberValue(fileBytes),
            numberValue(fileChecksum),
            resultName(result),
            textValue(phase),
            textValue(failureText),
            textValue(serialNumber),
            textValue(fixture)};
}

UpdateRecord UpdateRecord::fromValues(const QVariantList& values)
{
    UpdateRecord record;
    if (values.size() != columns().size())
        return record;
    int i = 0;
    record.id = values.at(i++).toString();
    record.startedUtc = QDateTime::fromString(values.at(i++).toString(), Qt::ISODateWithMs);
    record.durationMs = numberOf(values.at(i++));
    // Port, type and address are the module key's parts: read from the key, not from their columns.
    const std::initializer_list<QString*> texts = {&record.toolVersion,    &record.station,        &record.operatorName,
                                                   &record.moduleKey,      nullptr,                &record.linkKind,
                                                   nullptr,                nullptr,                &record.firmwareBefore,
                                                   &record.firmwareAfter,  &record.fileName,       &record.fileSha256,
                                                   &record.fileIdentifier};
    for (QString* text : texts) {
        if (text)
            *text = values.at(i).toString();
        ++i;
    }
    record.fileBytes = numberOf(values.at(i++));
    record.fileChecksum = numberOf(values.at(i++));
    // A result records do not hold (a newer tool's, a hand-made row) reads as not started, as an unknown name.
    Result result;
    if (resultFromName(values.at(i++).toString(), &result) && isRecorded(result))
        record.result = result;
    record.phase = values.at(i++).toString();
    record.failureText = values.at(i++).toString();
    record.serialNumber = values.at(i++).toString();
    record.fixture = values.at(i++).toString();
    return record;
}

QString UpdateRecord::jsonKey(const QString& column)
{
    static const QHash<QString, QString> endedUpdateNames = {{QStringLiteral("module_key"), QStringLiteral("module")},
                                                             {QStringLiteral("module_type"), QStringLiteral("type")},
                                                             {QStringLiteral("file_name"), QStringLiteral("file")},
                                                             {QStringLiteral("file_identifier"), QStringLiteral("identifier")}};
    const auto named = endedUpdateNames.constFind(column);
    if (named != endedUpdateNames.constEnd())
        return named.value();
    QString key;
    bool upper = false;
    for (const QChar c : column) {
        if (c == QLatin1Char('_')) {
            upper = true;
            continue;
        }
        key.append(upper ? c.toUpper() : c);
        upper = false;
    }
    return key;
}

QJsonObject UpdateRecord::toJson() const
{
    QJsonObject object = EndedUpdate::toJson();
    const QVariantList fields = values();
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = jsonKey(columns().at(i));
        if (object.contains(name))
            continue;
        const QVariant& field = fields.at(i);
        if (field.isNull())
            object.insert(name, QJsonValue(QJsonValue::Null));
        else if (field.type() == QVariant::LongLong)
            object.insert(name, double(field.toLongLong()));
        else
            object.insert(name, field.toString());
    }
    return object;
}

void UpdateRecord::setStation(const QString& stationName, const QString& stationOperator)
{
    if (!stationName.isEmpty())
        station = stationName;
    if (!stationOperator.isEmpty())
        operatorName = stationOperator;
}
