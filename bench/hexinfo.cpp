// hexinfo FILE: loads an Intel HEX firmware file with the plug-in's reader and prints its program
// size, checksum, start address and firmware identifier, as the firmware-update tool would show them.
// Exit status: 0 loaded, 1 the load failed, 2 usage or the file cannot be opened.
// Built without Qt, so that a whole run costs little more than the load itself.

#include "intelhexparser.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: hexinfo FILE\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "hexinfo: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
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
        return 1;
    }
    if (result.endedAtBadLine())
        std::fprintf(stderr, "hexinfo: %s: reading ended at malformed line %d\n", argv[1], result.line);
    const std::string identifier = IntelHex::findIdentifier(image.get(), IntelHex::ImageSize);
    std::printf("size: %d\nchecksum: 0x%x\nstart: 0x%08x\nidentifier: %s\n", result.programSize,
                unsigned(result.checksum), unsigned(result.ARMFlashAddress + result.progStart),
                identifier.empty() ? "(none)" : identifier.c_str());
    return 0;
}
