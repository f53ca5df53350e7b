#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// One update attempt as the records keep it: who updated which module where, with which file, and how
// it ended. Texts that are empty and numbers that are unknown (-1) are absent values (NULL, null).
struct UpdateRecord
{
    // Resumed: updated, the write going on where an earlier one ended, without an erase.
    // A station's line stop and the operator's acknowledgement that starts it again are kept beside the
    // updates, in the same table, so that a line's history reads in one order.
    enum class Result { Updated, Failed, Interrupted, Skipped, NotStarted, Resumed, LineStopped, LineRestarted };

    QString id; // a UUID without braces
    QDateTime startedUtc;
    qint64 durationMs = -1;
    QString toolVersion;
    QString station;
    QString operatorName;
    QString moduleKey;
    QString port;
    QString linkKind;
    QString moduleType;
    QString address;
    QString firmwareBefore;
    QString firmwareAfter;
    QString fileName;
    QString fileSha256;
    QString fileIdentifier;
    qint64 fileBytes = -1;
    qint64 fileChecksum = -1;
    Result result = Result::NotStarted;
    QString phase;
    QString failureText;
    // The unit's serial number and the station's fixture (port) it sat in; empty outside a station.
    QString serialNumber;
    QString fixture;

    // The table's columns, in the order of values() and fromValues().
    static const QStringList& columns();
    // The "schema" of a record's JSON object.
    static constexpr int JsonSchema = 1;
    // A column's name as a key of the JSON object: camel case (started_utc: startedUtc).
    static QString jsonKey(const QString& column);
    QVariantList values() const;
    static UpdateRecord fromValues(const QVariantList& values);

    static QString resultName(Result result);
    // False for a name that is no result.
    static bool resultFromName(const QString& name, Result* result);
    // started_utc as stored: ISO 8601 with milliseconds and Z, so that text order is time order.
    static QString timeText(const QDateTime& utc);

    QJsonObject toJson() const;
    // A station's name and operator replace the host and user names a record starts with; empty ones do not.
    void setStation(const QString& stationName, const QString& stationOperator);
};
