#pragma once

#include "progressstate.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QTextStream;

// Shows how far an update is. On a terminal one line that rewrites itself, at least every second:
// phase, percent of the whole update, bytes, KiB/s and the time still to go; elsewhere one line per phase.
class ProgressPrinter : public QObject
{
    Q_OBJECT
public:
    // With `out` null nothing is printed: the owner shows statusLine() where it wants.
    ProgressPrinter(QTextStream* out, bool terminal, QObject* parent = nullptr);

    // The clock starts with the update.
    void start();
    void phaseReached(const QString& phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    // Ends the rewritten line, so that what follows starts on a line of its own.
    void finish();

    // Phase, percent of the whole update, clock, bytes, KiB/s and the time still to go.
    QString statusLine() const;
    // The same for `done` of `total` bytes of `phase` at `elapsedMs`, the write having started at
    // `writeStartMs`; the time still to go only once the write's rate has settled.
    static QString statusText(const QString& phase, qint64 done, qint64 total, qint64 elapsedMs, qint64 writeStartMs);

    // "[m:ss.zzz]", the time of a printed line since the update started.
    static QString clockText(qint64 ms);
    // The percent of the whole update that `done` of `total` bytes of `phase` stand for.
    static int percentOf(const QString& phase, qint64 done, qint64 total);
    // The seconds the write still takes at its rate so far; -1 outside the write or before its rate settled.
    static qint64 etaSeconds(const QString& phase, qint64 done, qint64 total, qint64 elapsedMs, qint64 writeStartMs);

private:
    void rewriteLine();

    QTextStream* m_out;
    bool m_terminal;
    ProgressState m_state;
    QTimer m_tick;
    qint64 m_rewrittenAtMs = 0;
    bool m_linePending = false;
};
