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

    // The write's words at the link's line time, for the time still to go before the write has settled.
    void setLineWriteMs(qint64 ms);
    // The clock starts with the update.
    void start();
    void phaseReached(const QString& phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    // Ends the rewritten line, so that what follows starts on a line of its own.
    void finish();

    // Phase, percent of the whole update, clock, bytes, KiB/s and the time still to go of the whole update.
    QString statusLine() const;
    // The same for `done` of `total` bytes of `phase` at `elapsedMs`, the phase having started at
    // `phaseStartMs` (UpdateEta for the time still to go).
    static QString statusText(const QString& phase, qint64 done, qint64 total, qint64 elapsedMs, qint64 phaseStartMs,
                              qint64 lineWriteMs);

    // "[m:ss.zzz]", the time of a printed line since the update started.
    static QString clockText(qint64 ms);
    // The percent of the whole update that `done` of `total` bytes of `phase` stand for.
    static int percentOf(const QString& phase, qint64 done, qint64 total);

private:
    void rewriteLine();

    QTextStream* m_out;
    bool m_terminal;
    ProgressState m_state;
    QTimer m_tick;
    qint64 m_lineWriteMs = 0;
    qint64 m_rewrittenAtMs = 0;
    bool m_linePending = false;
};
