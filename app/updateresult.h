#pragma once

#include "endedupdate.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <QString>
#include <QVector>

// How the update of one module ended, and how it is told: its closing line, its JSON object, its exit
// code. A run of dux-host is a list of these (UpdateSummary tells the list).
struct UpdateResult : EndedUpdate
{
    // False for a verify, a read-back or a skip: the flash keeps what it held whatever the phase.
    bool erases = true;
    int timeoutSeconds = 0;
    // Planned only: the line time of the write phase at the link's data rate.
    qint64 estimatedMs = -1;
    // The module's state as observed after the run, and what to do next (moduleStateAfter); empty: not
    // observed.
    QString moduleState;
    // ReadBack only: the HEX file what was read went into.
    QString readBackFile;

    int exitCode() const;
    // Whether the update was tried and did not end with the module updated (or, for a verify, holding the file).
    bool failed() const
    {
        return result == Result::Failed || result == Result::TimedOut || result == Result::Differs;
    }
    // One line, e.g. "Updated ttySIM0/DUX1234/id1 to 1234V200: 262,144 bytes in 3:28 (1.26 KiB/s)". The
    // module's texts in it are made visible (visibleText).
    QString closingLine() const;
    // The state the module is left in, and what to do next; empty after an update or a plan.
    QString stateText() const;
    // Why an update cut short by its time-out failed: "timed out after 3 s".
    QString timedOutText() const;
    // The ended update's fields and dux-host's own; a value that is not known is null.
    QJsonObject toJson() const;
    // The module's state after a run that ended in `phase` (LeftStates::after, the plug-in's rule too),
    // by `answer`, the version it gave when asked after the run (empty: none, or it could not be asked),
    // and what to do next.
    static QString moduleStateAfter(const QString& phase, bool erases, const QString& answer);

private:
    // "0x08000100" for each page.
    static QStringList pageAddresses(const QVector<quint32>& pages);
    // The differing pages' addresses of a verify; null for any other run.
    QJsonValue differingPagesJson() const;
    // The closing lines of a write (updated or resumed) and of a plan (--dry-run).
    QString writtenLine() const;
    QString plannedLine() const;
};
