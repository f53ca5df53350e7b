#include "modulestatenote.h"

#include "updatephase.h"

#include <QCoreApplication>

ModuleStateNote ModuleStateNote::after(const QString& phase)
{
    UpdatePhase reached;
    if (!UpdatePhases::fromName(phase, &reached))
        return {};
    // Past the entry the module waits in its bootloader, from the erase on without firmware, from the
    // restart on with the new firmware stored.
    // After a failure the form has let the file go: the user chooses it again before Update.
    if (reached < UpdatePhase::Erase)
        return {QCoreApplication::translate("ModuleStateNote", "Module state: in its bootloader, its firmware not erased yet. Choose "
                                                     "the file again, then press Update to try again."),
                true};
    if (reached < UpdatePhase::Restart)
        return {QCoreApplication::translate("ModuleStateNote", "Module state: in its bootloader with no firmware. Choose the file "
                                                     "again, then press Update to write the firmware."),
                true};
    return {QCoreApplication::translate("ModuleStateNote", "Module state: the new firmware is stored, the module is not back yet. "
                                                 "Switch it off and on, then press Refresh."),
            false};
}
