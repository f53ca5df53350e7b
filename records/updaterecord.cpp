#include "updaterecord.h"

#include <QJsonValue>

namespace {

constexpr int Unknown = -1;

const QStringList ResultNames = {QStringLiteral("updated"), QStringLiteral("failed"), QStringLiteral("interrupted"),
                                 QStringLiteral("skipped"), QStringLiteral("not started"), QStringLiteral("resumed"),
                                 QStringLiteral("line stopped"), QStringLiteral("line restarted")};

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
    return {id,
            timeText(startedUtc),
            numberValue(durationMs),
            textValue(toolVersion),
            textValue(station),
            textValue(operatorName),
            textValue(moduleKey),
            textValue(port),
            textValue(linkKind),
            textValue(moduleType),
            textValue(address),
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
    for (QString* text : {&record.toolVersion, &record.station, &record.operatorName, &record.moduleKey, &record.port,
                          &record.linkKind, &record.moduleType, &record.address, &record.firmwareBefore,
                          &record.firmwareAfter, &record.fileName, &record.fileSha256, &record.fileIdentifier})
        *text = values.at(i++).toString();
    record.fileBytes = numberOf(values.at(i++));
    record.fileChecksum = numberOf(values.at(i++));
    resultFromName(values.at(i++).toString(), &record.result);
    record.phase = values.at(i++).toString();
    record.failureText = values.at(i++).toString();
    record.serialNumber = values.at(i++).toString();
    record.fixture = values.at(i++).toString();
    return record;
}

QString UpdateRecord::resultName(Result result)
{
    return ResultNames.at(int(result));
}

bool UpdateRecord::resultFromName(const QString& name, Result* result)
{
    const int index = ResultNames.indexOf(name);
    if (index < 0)
        return false;
    *result = Result(index);
    return true;
}

QString UpdateRecord::timeText(const QDateTime& utc)
{
    return utc.toUTC().toString(Qt::ISODateWithMs);
}

// started_utc -> startedUtc: the JSON's keys in the style of the update JSON.
QString UpdateRecord::jsonKey(const QString& column)
{
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
    const QVariantList fields = values();
    QJsonObject object{{QStringLiteral("schema"), JsonSchema}};
    for (int i = 0; i < fields.size(); ++i) {
        const QVariant& field = fields.at(i);
        const QString name = jsonKey(columns().at(i));
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
