#pragma once

#include <QJsonObject>
#include <QString>

// How the update of one module ended, and how it is told: its closing line, its JSON object, its exit
// code. A run of dux-host is a list of these (UpdateSummary tells the list).
struct UpdateResult
{
    // Skipped: --watch found the module on the file's firmware already, or --if-changed found its flash
    // holding the file. Planned: --dry-run checked it.
    enum class Outcome { Updated, Failed, TimedOut, Interrupted, NotStarted, Skipped, Planned };

    // The version of the JSON objects; a consumer checks it before it reads the fields.
    static constexpr int JsonSchema = 1;

    Outcome outcome = Outcome::NotStarted;
    QString moduleKey;
    QString port;
    QString fileName;
    QString identifier; // of the file
    QString failureText;
    QString phase; // the last phase reached; empty before the update started
    qint64 bytes = 0;
    qint64 elapsedMs = 0;
    // Flash words the write phase kept in flight; 0 when it did not start.
    int window = 0;
    QString firmwareVersion; // read back after the update; empty when it could not be
    QString moduleFirmware;  // what the module ran when the run found it; empty when not known
    int timeoutSeconds = 0;
    // Planned only: the line time of the write phase at the link's data rate.
    qint64 estimatedMs = -1;
    // The module's state as observed after the run, and what to do next (moduleStateAfter); empty: not
    // observed.
    QString moduleState;

    int exitCode() const;
    // Whether the update was tried and did not end with the module updated.
    bool failed() const { return outcome == Outcome::Failed || outcome == Outcome::TimedOut; }
    // One line, e.g. "Updated ttySIM0/DUX1234/id1 to 1234V200: 262,144 bytes in 3:28 (1.26 KiB/s)". The
    // module's texts in it are made visible (visibleText).
    QString closingLine() const;
    // The state the module is left in, and what to do next; empty after an update or a plan.
    QString stateText() const;
    // "updated", "failed", "timed out", "interrupted", "not started", "skipped", "planned".
    QString resultName() const;
    // Every field of the schema; a value that is not known is null.
    QJsonObject toJson() const;
    // The module's state after a run that ended in `phase`, by `answer`, the version it gave when asked
    // after the run (empty: none, or it could not be asked), and what to do next.
    static QString moduleStateAfter(const QString& phase, const QString& answer);
};
