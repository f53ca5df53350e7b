// hexinfo FILE: loads an Intel HEX firmware file with the plug-in's reader and prints its program
// size, checksum, start address and firmware identifier, as the firmware-update tool would show them.
// Built without Qt, so that a whole run costs little more than the load itself.

#include "hexfile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int ExitLoadFailed = 1;
constexpr int ExitUsage = 2;

constexpr const char* HelpText =
    "Usage: hexinfo FILE\n"
    "Loads an Intel HEX firmware file with the firmware-update tool's reader and prints its program size,\n"
    "checksum, start address and firmware identifier.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and end.\n"
    "  --version      Show the version and end.\n"
    "\n"
    "Exit status:\n"
    "  0  loaded\n"
    "  1  the load failed, the file is empty or not a HEX file, or it is cut short (a malformed line,\n"
    "     a last record cut off, or no end-of-file record)\n"
    "  2  usage error, or the file cannot be opened or is not a regular file (a folder, FIFO, device)\n";

}

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("hexinfo %s\n", DUX_VERSION);
        return 0;
    }
    if (argc != 2 || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fprintf(stderr, "usage: hexinfo FILE (hexinfo --help tells more)\n");
        return ExitUsage;
    }
    // Left uninitialised: the loader clears the image itself.
    const std::unique_ptr<unsigned char[]> image(new unsigned char[IntelHex::ImageSize]);
    const IntelHex::FileLoad load = IntelHex::loadFile(argv[1], image.get());
    if (load.verdict != IntelHex::FileLoad::Loaded) {
        std::fprintf(stderr, "hexinfo: %s\n", IntelHex::problemText(argv[1], load).c_str());
        return load.wasOpened() ? ExitLoadFailed : ExitUsage;
    }
    const std::string warning = IntelHex::overlapText(argv[1], load.read);
    if (!warning.empty())
        std::fprintf(stderr, "hexinfo: warning: %s\n", warning.c_str());
    const IntelHex::ReadResult& result = load.read;
    const std::string& identifier = load.identifier;
    std::printf("size: %d\nchecksum: 0x%x\nstart: 0x%08x\nidentifier: %s\n", result.programSize,
                unsigned(result.checksum), unsigned(result.ARMFlashAddress + result.progStart),
                identifier.empty() ? "(none)" : identifier.c_str());
    return 0;
}
