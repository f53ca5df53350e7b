#pragma once

#include <QMetaType>
#include <QString>

class QObject;

// What the host asks of each update the firmware tool runs: one value on the tool's widget, read anew
// as each update starts.
struct RunOptions
{
    // Each update first reads the module's checksum and leaves a module that holds the file as it is.
    bool ifChanged = false;
    // An update whose module's flash holds the start of the file, erased after it, writes on from there
    // without an erase.
    bool resume = false;
    // Each update only compares the module's sums with the file's and restarts the module, writing nothing.
    bool verifyOnly = false;
    // Each update only reads the module's flash back, from readBackFirst up to readBackEnd (-1: the
    // module's flash base, and the end its memory size states), and restarts the module, writing nothing.
    bool readBack = false;
    qint64 readBackFirst = -1;
    qint64 readBackEnd = -1;
    // A module whose firmware is not older than the file's (docs/protocol.md, "Version order") is not updated.
    bool ifNewer = false;
    // The SHA-256 the chosen file must have (hexadecimal, lower case); empty: any file.
    QString expectedSha256;

    // Hands the options to a tool's widget, and reads them there (the defaults when none were handed).
    static void handTo(QObject* tool, const RunOptions& options);
    static RunOptions of(const QObject* tool);
};

Q_DECLARE_METATYPE(RunOptions)
