// hexinfo FILE: loads an Intel HEX firmware file with the plug-in's reader and prints its program
// size, checksum, start address and firmware identifier, as the firmware-update tool would show them.
// Built without Qt, so that a whole run costs little more than the load itself.

#include "intelhexparser.h"

#include <cerrno>
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
    "  1  the load failed, or the file is cut short (a malformed line or no end-of-file record)\n"
    "  2  usage error, or the file cannot be opened\n";

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
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "hexinfo: %s: %s\n", argv[1], std::strerror(errno));
        return ExitUsage;
    }
    // Left uninitialised: the reader clears the image itself.
    const std::unique_ptr<unsigned char[]> image(new unsigned char[IntelHex::ImageSize]);
    const IntelHex::ReadResult result = IntelHex::read(
        [file](char* buffer, std::int64_t capacity) {
            return std::int64_t(std::fread(buffer, 1, size_t(capacity), file));
        },
        image.get());
    std::fclose(file);
    if (!result.isComplete()) {
        std::fprintf(stderr, "hexinfo: %s: %s (line %d)\n", argv[1], IntelHex::statusText(result.status),
                     result.line);
        return ExitLoadFailed;
    }
    if (result.isCutShort()) {
        std::fprintf(stderr, "hexinfo: %s: cut short: %s\n", argv[1], IntelHex::cutShortText(result).c_str());
        return ExitLoadFailed;
    }
    const std::string identifier = IntelHex::findIdentifier(image.get(), IntelHex::ImageSize);
    std::printf("size: %d\nchecksum: 0x%x\nstart: 0x%08x\nidentifier: %s\n", result.programSize,
                unsigned(result.checksum), unsigned(result.ARMFlashAddress + result.progStart),
                identifier.empty() ? "(none)" : identifier.c_str());
    return 0;
}
