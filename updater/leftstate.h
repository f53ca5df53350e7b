#pragma once

#include <QString>

// Where an update that did not end well left the module. The plug-in's "Module state: ..." line and
// dux-host's closing state both tell this one judgement, so the two cannot disagree.
enum class LeftState {
    Untouched,   // no phase was reached
    Unknown,     // the module gave no answer, or junk
    Firmware,    // it answered with a firmware's version
    NotErased,   // in its bootloader, its firmware still in the flash
    NoFirmware,  // in its bootloader, the flash erased and not all written
    NewFirmware, // in its bootloader, the new firmware written
};

namespace LeftStates {
// By the last phase reached, whether the run erases at all (a verify, a read-back and a skip do not),
// and `answer`, the module's latest version answer (empty: it did not answer).
LeftState after(const QString& phase, bool erases, const QString& answer);
}
