#pragma once

#include <QJsonObject>
#include <QString>

// How one dux-host run ended, and how it is told: the closing line, the JSON object, the exit code.
struct UpdateResult
{
    enum class Outcome { Updated, Failed, TimedOut, Interrupted, NotStarted };

    Outcome outcome = Outcome::NotStarted;
    QString moduleKey;
    QString port;
    QString fileName;
    QString identifier; // of the file
    QString failureText;
    QString phase; // the last phase reached; empty before the update started
    qint64 bytes = 0;
    qint64 elapsedMs = 0;
    QString firmwareVersion; // read back after the update; empty when it could not be
    int timeoutSeconds = 0;
    // The module's state and what to do next; empty: what the phase leaves (moduleStateAfter).
    QString moduleState;

    int exitCode() const;
    // One line, e.g. "Updated ttySIM0/DUX1234/id1 to 1234V200: 262,144 bytes in 3:28 (1.26 KiB/s)".
    QString closingLine() const;
    QJsonObject toJson() const;
    // The module's state after a run that ended in `phase`, and what to do next.
    static QString moduleStateAfter(const QString& phase);
};
