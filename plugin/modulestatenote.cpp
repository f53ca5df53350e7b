#include "modulestatenote.h"

#include "leftstate.h"

#include <QCoreApplication>

ModuleStateNote ModuleStateNote::of(LeftState state, const QString& firmware)
{
    // After a failure the form has let the file go: the user chooses it again before Update.
    switch (state) {
    case LeftState::Untouched:
        return {};
    case LeftState::Unknown:
        return {QCoreApplication::translate("ModuleStateNote", "Module state: unknown. Switch the module off and on, "
                                                               "then press Refresh."),
                false};
    case LeftState::Firmware:
        return {QCoreApplication::translate("ModuleStateNote", "Module state: runs its firmware %1. Choose the file again, "
                                                               "then press Update to try again.")
                    .arg(firmware),
                false};
    case LeftState::NotErased:
        return {QCoreApplication::translate("ModuleStateNote", "Module state: in its bootloader, its firmware not erased yet. Choose "
                                                               "the file again, then press Update to try again."),
                true};
    case LeftState::NoFirmware:
        return {QCoreApplication::translate("ModuleStateNote", "Module state: in its bootloader with no firmware. Choose the file "
                                                               "again, then press Update to write the firmware."),
                true};
    case LeftState::NewFirmware:
        break;
    }
    return {QCoreApplication::translate("ModuleStateNote", "Module state: in its bootloader, the new firmware stored. Switch "
                                                           "it off and on, then press Refresh."),
            true};
}
