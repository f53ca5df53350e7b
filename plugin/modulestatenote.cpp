#include "modulestatenote.h"

#include "updatephase.h"

ModuleStateNote ModuleStateNote::after(const QString& phase)
{
    UpdatePhase reached;
    if (!UpdatePhases::fromName(phase, &reached))
        return {};
    // Past the entry the module waits in its bootloader, from the erase on without firmware, from the
    // restart on with the new firmware stored.
    if (reached < UpdatePhase::Erase)
        return {QStringLiteral("Module state: in its bootloader, its firmware not erased yet. Press Update to try again."),
                true};
    if (reached < UpdatePhase::Restart)
        return {QStringLiteral("Module state: in its bootloader with no firmware. Press Update to write the firmware "
                               "again."),
                true};
    return {QStringLiteral("Module state: the new firmware is stored, the module is not back yet. Switch it off and "
                           "on, then press Refresh."),
            false};
}
