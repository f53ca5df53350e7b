#include "hexfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace IntelHex {

namespace {

// Digits of an address in the overlap warning.
constexpr int AddressDigits = 8;

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a plain file";
}

// Opens `path` for reading when it is a regular file; otherwise sets the verdict and returns null.
std::FILE* openRegularFile(const std::string& path, FileLoad& load)
{
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        load.verdict = FileLoad::CannotOpen;
        load.fileError = std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        load.verdict = FileLoad::NotRegularFile;
        load.fileError = kindOf(info.st_mode);
        return nullptr;
    }
    // Without waiting: should the name have been given to a FIFO since, neither the open nor a read
    // waits for a writer (a read then finds nothing).
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        load.verdict = FileLoad::CannotOpen;
        load.fileError = std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(descriptor, "rb");
    if (!file) {
        load.verdict = FileLoad::CannotOpen;
        load.fileError = std::strerror(errno);
        ::close(descriptor);
    }
    return file;
}

}

FileLoad loadFile(const std::string& path, unsigned char* image)
{
    FileLoad load;
    std::FILE* file = openRegularFile(path, load);
    if (!file) {
        std::fill_n(image, ImageSize, 0);
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
    if (load.read.linesRead == 0)
        load.verdict = FileLoad::NoRecords;
    else if (load.read.line == 1 && !load.read.lastRecordCut)
        load.verdict = FileLoad::NotHexRecords;
    else if (load.read.isCutShort())
        load.verdict = FileLoad::CutShort;
    return load;
}

std::string problemText(const std::string& path, const FileLoad& load)
{
    switch (load.verdict) {
    case FileLoad::Loaded:
        break;
    case FileLoad::NotRegularFile:
        return path + " is " + load.fileError + ", not a regular file";
    case FileLoad::CannotOpen:
        return path + " cannot be read: " + load.fileError;
    case FileLoad::NoRecords:
        return path + " holds no HEX records";
    case FileLoad::NotHexRecords:
        return path + " is not a HEX file: line 1 is not a HEX record";
    case FileLoad::CutShort:
        return path + " is cut short: " + cutShortText(load.read);
    case FileLoad::Rejected:
        return path + " is rejected: " + statusText(load.read.status) + " (line " + std::to_string(load.read.line)
            + ")";
    }
    return std::string();
}

std::string overlapText(const std::string& path, const ReadResult& read)
{
    if (read.overlapLine == 0)
        return std::string();
    char address[AddressDigits + 1];
    std::snprintf(address, sizeof address, "%0*X", AddressDigits, unsigned(read.overlapAddress));
    return path + ": the record in line " + std::to_string(read.overlapLine)
        + " overlaps data an earlier record gave, from address 0x" + address + "; the later bytes are written";
}

}
