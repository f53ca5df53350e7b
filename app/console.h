#pragma once

class QByteArray;
class QTextStream;

// dux-host's own output. stdout carries the progress and the result; stderr dux-host's diagnostics.
// Unless Qt's debug output is asked for (-vv, or the user's own QT_LOGGING_RULES), the process's
// standard error is silenced, since the plug-in echoes every history line there; dux-host keeps the
// real stderr for itself.
namespace Console {

QTextStream& out();
QTextStream& err();
// The descriptor behind err(), for a thread that must write while the event loop's thread is busy.
int errorDescriptor();
// Writes all of `bytes` to `descriptor` without Qt's streams, for a thread other than the event loop's.
void writeAll(int descriptor, const QByteArray& bytes);
// Whether stdout is a terminal, where progress rewrites one line.
bool outputIsTerminal();
// Routes Qt's messages: with `debugOutput` all of them to stderr as Qt would; otherwise only warnings
// of dux's own categories ("dux.*"), which tell of real trouble (without `warnings` only the critical
// ones), and the process's stderr is silenced.
void routeMessages(bool debugOutput, bool warnings);

}
