#include "hexfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace IntelHex {

FileLoad loadFile(const std::string& path, unsigned char* image)
{
    FileLoad load;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fill_n(image, ImageSize, 0);
        load.verdict = FileLoad::CannotOpen;
        load.fileError = std::strerror(errno);
        return load;
    }
    load.read = read(
        [file](char* buffer, std::int64_t capacity) {
            return std::int64_t(std::fread(buffer, 1, size_t(capacity), file));
        },
        image);
    std::fclose(file);
    if (!load.read.isComplete()) {
        load.verdict = FileLoad::Rejected;
        return load;
    }
    load.identifier = findIdentifier(image, ImageSize);
    if (load.read.isCutShort())
        load.verdict = FileLoad::CutShort;
    return load;
}

std::string problemText(const std::string& path, const FileLoad& load)
{
    switch (load.verdict) {
    case FileLoad::Loaded:
        break;
    case FileLoad::CannotOpen:
        return path + " cannot be read: " + load.fileError;
    case FileLoad::CutShort:
        return path + " is cut short: " + cutShortText(load.read);
    case FileLoad::Rejected:
        return path + " is rejected: " + statusText(load.read.status) + " (line " + std::to_string(load.read.line)
            + ")";
    }
    return std::string();
}

}
