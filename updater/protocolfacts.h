#pragma once

#include "bootloadercommands.h"
#include "intelhexparser.h"

// What the tool, the update run and the simulated module agree on about modules, their bootloaders
// and the host, besides the bootloader's command set (bootloadercommands.h). The image size and the
// identifier patterns are the HEX library's (IntelHex::ImageSize, IntelHex::IdentifierPatterns).
namespace Protocol {

// The program image the tool hands to the update run.
constexpr int ImageBytes = IntelHex::ImageSize;

// A module's state: the argument of the run's reopen request (0 to 2) and what the host shows.
enum class ModuleState : int {
    Bootloader = 0,
    Firmware = 1,
    Ready = 2,
    // Shown by the host once the module was told to enter its bootloader.
    BootloaderRequested = 4,
};

// Bootloader entry: command 242 with a fixed code in type, bank and value that the firmware checks.
constexpr unsigned char EnterBootloaderCommand = 242;
constexpr unsigned short EnterBootloaderType = 0x47;
constexpr unsigned char EnterBootloaderBank = 0x6E;
constexpr int EnterBootloaderCode = 0x5D2C8B19;

// Module types (prefixes of the bootloader's version text) whose bootloader writes flash words by
// page number instead of through a page buffer.
inline constexpr const char* PageNumberTypes[] = {"7342", "7351", "473"};
// Modules whose bootloader is reached at this prefix skip the match and base tests.
constexpr const char* UncheckedModulePrefix = "0077";

}
