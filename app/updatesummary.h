#pragma once

#include "updateresult.h"

#include <QList>
#include <QString>
#include <QStringList>

// How the updates of one dux-host run ended, told together: a table or a count, one exit code.
namespace UpdateSummary {

// Columns: module, result, bytes, time, firmware read back; one row per update, then the closing line
// of each that did not end updated.
QString table(const QList<UpdateResult>& results);
// --watch's last line: "Watched N modules: U updated, F failed, S skipped (already on ID)[, I interrupted]".
QString watchCount(const QList<UpdateResult>& results, const QString& fileIdentifier);
// 3 when one was interrupted, else 1 when one failed or timed out, else 2 when one could not start,
// else 0 (all updated, skipped or planned, or nothing to do).
int exitCode(const QList<UpdateResult>& results);
// `rows` as lines of aligned columns, two spaces apart; the columns in `rightAligned` are numbers.
QString alignedColumns(const QList<QStringList>& rows, const QList<int>& rightAligned, const QString& indent = QString());
}
