#pragma once

#include <QString>

struct PortChange;

// Follows the module under update when the host's serial ports change: a module on a USB link
// re-enumerates under a new port when it switches to or from its bootloader. On other links a new port
// is another device (a USB stick, an adapter): taking it would lose the module.
class PortFollower
{
public:
    struct Following
    {
        // The module's key from now on.
        QString moduleKey;
        // A line for the history (markup), empty when there is none.
        QString historyLine;
        // The update is called again on the new port.
        bool recall = false;
    };
    // `entered`: the update has sent the module to its bootloader and not seen it back; `linkKind`: the update's link.
    static Following follow(const PortChange& change, const QString& moduleKey, bool entered, int linkKind);
};
