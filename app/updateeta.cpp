#include "updateeta.h"

#include "timescale.h"
#include "updatephase.h"

#include <QString>

namespace {
// The write's rate is believed once the write has run this long and this share of the bytes is out.
constexpr qint64 SettleMs = 1000;
constexpr qint64 SettlePercent = 5;
constexpr qint64 Percent = 100;
// What is told while phases remain, however near their end: a second.
constexpr qint64 LeastMs = 1000;
}

bool UpdateEta::rateSettled(qint64 done, qint64 total, qint64 writeMs)
{
    return writeMs >= SettleMs && done * Percent >= total * SettlePercent && done > 0;
}

qint64 UpdateEta::remainingMs(const QString& phaseName, qint64 done, qint64 total, qint64 inPhaseMs, qint64 lineWriteMs)
{
    UpdatePhase phase;
    if (!UpdatePhases::fromName(phaseName, &phase))
        return -1;
    qint64 words = lineWriteMs;
    if (phase == UpdatePhase::Write) {
        const bool settled = rateSettled(done, total, inPhaseMs);
        if (!settled && lineWriteMs <= 0)
            return -1;
        // Before its first word the write's size is not known yet: all its words are still to go.
        words = settled  ? (total - done) * inPhaseMs / done
            : total > 0 ? lineWriteMs * (total - qMin(done, total)) / total
                        : lineWriteMs;
    } else if (phase < UpdatePhase::Write && lineWriteMs <= 0) {
        return -1;
    }
    // The phase under way: its pauses less the time it has run, and the write's words still to go.
    qint64 remaining = qMax<qint64>(0, TimeScale::scaledMs(UpdatePhases::knownPausesMs(phase)) - inPhaseMs);
    if (phase == UpdatePhase::Write)
        remaining += words;
    for (UpdatePhase later : UpdatePhases::all()) {
        if (later <= phase)
            continue;
        remaining += TimeScale::scaledMs(UpdatePhases::knownPausesMs(later));
        if (later == UpdatePhase::Write)
            remaining += words;
    }
    return qMax(remaining, LeastMs);
}
