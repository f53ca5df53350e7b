#pragma once

#include <QString>
#include <QVector>

struct HostOptions;
struct UpdateRecord;

// dux-host --history: the records of the station's records database, newest first, as a table, one JSON
// array or comma-separated values; with --summary what they add up to.
namespace History {

// Prints what `options` ask for on stdout (a failure on stderr) and returns the exit code.
int run(const HostOptions& options);
QString table(const QVector<UpdateRecord>& records);
QString csv(const QVector<UpdateRecord>& records);
QString json(const QVector<UpdateRecord>& records);

}
