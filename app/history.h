#pragma once

class QTextStream;
struct HostOptions;

// dux-host --history: the records of the station's records database, newest first, as a table, one JSON
// array or comma-separated values; with --summary what they add up to. Records that wait in the spool
// come first, marked. The records are printed as they are read, never held all at once.
namespace History {

// Prints what `options` ask for on `out` (a failure on `err`) and returns the exit code.
int run(const HostOptions& options, QTextStream& out, QTextStream& err);

}
