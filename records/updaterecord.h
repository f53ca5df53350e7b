#pragma once

#include "endedupdate.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// One update attempt as the records keep it: the ended update, and who made it where with which tool,
// over which link, with which file (its digest and size) and, at a station, which unit in which fixture.
// Texts that are empty and numbers that are unknown (-1) are absent values (NULL, null).
struct UpdateRecord : EndedUpdate
{
    QString id; // a UUID without braces
    QString toolVersion;
    QString station;
    QString operatorName;
    QString linkKind;
    QString fileSha256;
    qint64 fileBytes = -1;
    qint64 fileChecksum = -1;
    // The unit's serial number and the station's fixture (port) it sat in; empty outside a station.
    QString serialNumber;
    QString fixture;

    // The table's columns, in the order of values() and fromValues().
    static const QStringList& columns();
    // A column's name as a key of the JSON object: the ended update's name for it, else camel case
    // (tool_version: toolVersion).
    static QString jsonKey(const QString& column);
    QVariantList values() const;
    static UpdateRecord fromValues(const QVariantList& values);


    QJsonObject toJson() const;
    // A station's name and operator replace the host and user names a record starts with; empty ones do not.
    void setStation(const QString& stationName, const QString& stationOperator);
};
