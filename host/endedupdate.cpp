#include "endedupdate.h"

#include "modulekey.h"

#include <QFileInfo>
#include <QJsonValue>
#include <QStringList>

namespace {

// In the order of EndedUpdate::Result.
const QStringList& resultNames()
{
    static const QStringList names = {
        QStringLiteral("updated"),   QStringLiteral("failed"),       QStringLiteral("interrupted"),
        QStringLiteral("skipped"),   QStringLiteral("not started"),  QStringLiteral("resumed"),
        QStringLiteral("line stopped"), QStringLiteral("line restarted"), QStringLiteral("timed out"),
        QStringLiteral("planned"),   QStringLiteral("verified"),     QStringLiteral("differs"),
        QStringLiteral("read back")};
    return names;
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

}

QString EndedUpdate::resultName(Result result)
{
    return resultNames().at(int(result));
}

bool EndedUpdate::resultFromName(const QString& name, Result* result)
{
    const int index = resultNames().indexOf(name);
    if (index < 0)
        return false;
    *result = Result(index);
    return true;
}

QString EndedUpdate::filePath(const QString& given)
{
    return given.isEmpty() ? QString() : QFileInfo(given).absoluteFilePath();
}

QString EndedUpdate::timeText(const QDateTime& utc)
{
    return utc.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject EndedUpdate::moduleJson(const QString& moduleKey)
{
    const ModuleKey key(moduleKey);
    return QJsonObject{{QStringLiteral("module"), textOrNull(moduleKey)},
                       {QStringLiteral("port"), textOrNull(key.port())},
                       {QStringLiteral("type"), textOrNull(key.moduleType())},
                       {QStringLiteral("address"), textOrNull(key.address())}};
}

QJsonObject EndedUpdate::toJson() const
{
    QJsonObject object = moduleJson(moduleKey);
    object.insert(QStringLiteral("schema"), JsonSchema);
    object.insert(QStringLiteral("result"), resultName(result));
    object.insert(QStringLiteral("startedUtc"),
                  startedUtc.isValid() ? QJsonValue(timeText(startedUtc))
                                       : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("durationMs"),
                  durationMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(durationMs)));
    object.insert(QStringLiteral("file"), textOrNull(fileName));
    object.insert(QStringLiteral("identifier"), textOrNull(fileIdentifier));
    object.insert(QStringLiteral("firmwareBefore"), textOrNull(firmwareBefore));
    object.insert(QStringLiteral("firmwareAfter"), textOrNull(firmwareAfter));
    object.insert(QStringLiteral("phase"), textOrNull(phase));
    object.insert(QStringLiteral("failure"), textOrNull(failureText));
    return object;
}
