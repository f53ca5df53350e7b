#pragma once

#include "simulatedmodule.h"
#include "wirefault.h"

class DuxlFrame;

// Tells from the requests a module gets which phase of an update each one belongs to. The wire
// carries no phase: 201 and 202 write the image before the checksum is read and store size and
// checksum after it, and a version request belongs to the detection in the bootloader and to the
// reconnection once the restarted firmware answers.
class UpdatePhaseTracker
{
public:
    // The phase of `request`, which the module is about to get while it runs in `mode`.
    WireFault::Phase classify(const DuxlFrame& request, SimulatedModule::Mode mode);

private:
    bool m_checksumRead = false;
    bool m_restarted = false;
};
