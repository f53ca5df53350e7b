#pragma once

#include <QString>

// What an update that did not end well left on the module, told by the last phase the update reached:
// the history line that says it and what the user does next, and whether the module waits in its
// bootloader.
struct ModuleStateNote
{
    // Empty when the module was not touched (no phase reached).
    QString text;
    bool inBootloader = false;

    static ModuleStateNote after(const QString& phase);
};
