#include "leftstate.h"

#include "updatephase.h"
#include "versiontext.h"

LeftState LeftStates::after(const QString& phase, bool erases, const QString& answer)
{
    if (phase.isEmpty())
        return LeftState::Untouched;
    switch (VersionText::modeOf(answer)) {
    case VersionText::Mode::Unknown:
        return LeftState::Unknown;
    case VersionText::Mode::Firmware:
        return LeftState::Firmware;
    case VersionText::Mode::Bootloader:
        break;
    }
    // In its bootloader: the phase tells what became of its flash. From the erase on it has no firmware,
    // from the restart on it holds the new one; a run that never erases leaves the firmware it held.
    UpdatePhase reached = UpdatePhase::Entry;
    const bool known = UpdatePhases::fromName(phase, &reached);
    if (!erases || (known && reached < UpdatePhase::Erase))
        return LeftState::NotErased;
    if (known && reached < UpdatePhase::Restart)
        return LeftState::NoFirmware;
    return LeftState::NewFirmware;
}
