#pragma once

#include <QtGlobal>

class QString;

// The time still to go of a whole update: what is left of the phase under way and the known pauses of
// the phases after it (UpdatePhases::knownPausesMs), the write's words at the rate measured once it has
// settled, before that at the link's line time. While the update runs it is never below a second.
class UpdateEta
{
public:
    // `inPhaseMs`: how long the phase has run; `done` of `total` bytes of the phase; `lineWriteMs`: the
    // write's words at the link's line time (0: not known, then no time is told before the write has settled).
    // -1 when it cannot be told.
    static qint64 remainingMs(const QString& phase, qint64 done, qint64 total, qint64 inPhaseMs, qint64 lineWriteMs);
    // Whether the write's rate says something yet: the first words wait for the page buffer.
    static bool rateSettled(qint64 done, qint64 total, qint64 writeMs);
};
