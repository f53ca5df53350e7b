#pragma once

#include <QElapsedTimer>
#include <QString>

// How far one update is, as its phases and byte reports tell it: the phase, the bytes of it done, when
// the phase began and the clock since the start. What the progress line and the progress events show.
class ProgressState
{
public:
    // The clock starts with the update.
    void start();
    void reachPhase(const QString& phase);
    void progress(qint64 bytesDone, qint64 bytesTotal);

    QString phase() const { return m_phase; }
    qint64 done() const { return m_done; }
    qint64 total() const { return m_total; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    qint64 phaseStartMs() const { return m_phaseStartMs; }
    // The time still to go of the whole update (UpdateEta), the write's words taking `lineWriteMs` on the
    // line; -1 when it cannot be told.
    qint64 remainingMs(qint64 lineWriteMs) const;

private:
    QElapsedTimer m_clock;
    QString m_phase;
    qint64 m_done = 0;
    qint64 m_total = 0;
    qint64 m_phaseStartMs = 0;
};
