#include "updatephasetracker.h"

#include "bootloadercommands.h"
#include "duxlframe.h"

WireFault::Phase UpdatePhaseTracker::classify(const DuxlFrame& request, SimulatedModule::Mode mode)
{
    using Phase = WireFault::Phase;
    if (request.kind() == DuxlFrame::Kind::VersionRequest) {
        if (mode == SimulatedModule::Mode::Bootloader)
            return Phase::Detection;
        return m_restarted ? Phase::Reconnect : WireFault::NoPhase;
    }
    if (request.kind() != DuxlFrame::Kind::CommandRequest)
        return WireFault::NoPhase;

    switch (request.command()) {
    case SimulatedModule::EnterBootloaderCommand:
        m_restarted = false;
        return Phase::Entry;
    case Bootloader::ReadParameterCommand:
        return Phase::Parameters;
    case Bootloader::EraseCommand:
        m_checksumRead = false;
        m_restarted = false;
        return Phase::Erase;
    case Bootloader::WriteWordCommand:
    case Bootloader::ProgramPageCommand:
        return m_checksumRead ? Phase::Store : Phase::Write;
    case Bootloader::ReadChecksumCommand:
        m_checksumRead = true;
        return Phase::Verify;
    case Bootloader::StoreAttributeCommand:
        return Phase::Store;
    case Bootloader::RestartCommand:
        m_restarted = true;
        return Phase::Restart;
    default:
        return WireFault::NoPhase;
    }
}
