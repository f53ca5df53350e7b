#pragma once

#include "global.h"

#include <QPair>
#include <QSignalSpy>
#include <QStringList>
#include <QtTest>

// Checks shared by the suites that run updates: the order of history lines, the host's completion
// reports, and whether a worker still runs.
namespace UpdateChecks {

// A report to the host: module key and message ("Start fw update", "true", "false").
using Completion = QPair<QString, QString>;

// Whether `lines` occur in `text` in this order (each after the previous one); else the first missing.
inline bool containsInOrder(const QString& text, const QStringList& lines, QString* missing)
{
    int from = 0;
    for (const QString& line : lines) {
        const int at = text.indexOf(line, from);
        if (at < 0) {
            *missing = line;
            return false;
        }
        from = at + line.size();
    }
    return true;
}

inline QList<Completion> completions(const QSignalSpy& spy)
{
    QList<Completion> seen;
    for (const QList<QVariant>& call : spy)
        seen.append({call.at(0).toString(), call.at(1).toString()});
    return seen;
}

inline bool workerRunning()
{
    return Global::instance(false)->registeredThreadCount() > 0;
}

}

#define QVERIFY_IN_ORDER(text, lines)                                                                                  \
    do {                                                                                                               \
        QString missing;                                                                                               \
        QVERIFY2(UpdateChecks::containsInOrder(text, lines, &missing),                                                 \
                 qPrintable(QStringLiteral("missing (in order): ") + missing + QStringLiteral("\n") + text));          \
    } while (false)
