#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The phases of one update in the order they are reached, and the names by which they are reported,
// printed and chosen. A new phase is one value here and its name in updatephase.cpp; the values count
// up from 0 without gaps.
enum class UpdatePhase {
    Entry,      // the bootloader-entry command
    Detection,  // version requests answered by the bootloader
    Parameters, // page size, flash base, memory size
    Erase,
    Write,
    Verify,
    Store,      // the size and checksum written to the module
    Restart,
    Reconnect,  // version requests answered by the restarted firmware
};

namespace UpdatePhases {
// Every phase, in the order an update reaches them.
QVector<UpdatePhase> all();
QString name(UpdatePhase phase);
QStringList names();
// False (and `phase` untouched) for a name no phase has.
bool fromName(const QString& name, UpdatePhase* phase);

// Where a phase starts and ends within a whole update, in percent of its usual time (the write and the
// verify move on with their bytes): what a progress display gives each phase.
struct Share
{
    int startPercent;
    int endPercent;
};
Share progressShare(UpdatePhase phase);
// The pauses a phase takes whatever the module, in unscaled ms (TimeScale scales them): the waits of the
// tool and of its dialogue between and after their requests. The write's words and the module's own
// erase come on top.
int knownPausesMs(UpdatePhase phase);
}
