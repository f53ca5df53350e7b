#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTextStream;

// Shows how far an update is. On a terminal one line that rewrites itself: phase, percent of the
// whole update, bytes, KiB/s and the time still to go; elsewhere one line per phase.
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

    // "[m:ss.zzz]", the time of a printed line since the update started.
    static QString clockText(qint64 ms);

private:
    int percentOfUpdate() const;
    void rewriteLine();

    QTextStream* m_out;
    bool m_terminal;
    QElapsedTimer m_clock;
    QString m_phase;
    qint64 m_done = 0;
    qint64 m_total = 0;
    qint64 m_writeStartMs = -1;
    qint64 m_rewrittenAtMs = 0;
    bool m_linePending = false;
};
