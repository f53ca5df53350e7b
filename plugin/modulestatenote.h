#pragma once

#include <QString>

enum class LeftState;

// The history line that says what an update that did not end well left on the module (LeftStates::after,
// dux-host's rule too) and what the user does next in the form, and whether the module waits in its
// bootloader.
struct ModuleStateNote
{
    // Empty when the module was not touched.
    QString text;
    bool inBootloader = false;

    // `firmware`: the version the module answered, for LeftState::Firmware.
    static ModuleStateNote of(LeftState state, const QString& firmware);
};
