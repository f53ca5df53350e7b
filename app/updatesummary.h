#pragma once

#include "updateresult.h"

#include <QJsonArray>
#include <QList>
#include <QString>

// How several updates of one dux-host run ended, told together: a table, a JSON array of the
// per-module objects, one exit code.
namespace UpdateSummary {

// Columns: module, result, bytes, time, firmware read back; one row per update, then the failures' reasons.
QString table(const QList<UpdateResult>& results);
QJsonArray toJson(const QList<UpdateResult>& results);
// 0 only when every module was updated; else 3 when interrupted, 1 when an update failed, 2 when one
// could not start.
int exitCode(const QList<UpdateResult>& results);
}
