#pragma once

#include "intelhexparser.h"

#include <string>

// Loads one HEX file from disk and says whether it is firmware to write, and if not, why. Plain C++
// like the reader, so that every program (the plug-in, dux-host, dux-sim, hexinfo) gets the same
// verdicts and texts, and hexinfo still starts without Qt.
namespace IntelHex {

// What loading one file came to.
struct FileLoad
{
    enum Verdict {
        Loaded,     // read to its end: a complete file (it may still hold no identifier)
        CannotOpen, // the file could not be opened; `fileError` says why
        CutShort,   // the reader came to a normal end, but a malformed line or a missing end record ended it
        Rejected,   // the reader failed: `read.status` and `read.line`
    };
    Verdict verdict = Loaded;
    ReadResult read;
    // Found only when the reader came to a normal end; empty when the image holds none.
    std::string identifier;
    std::string fileError;

    // The reader came to its normal end: size, checksum and identifier are those of what it read.
    bool isRead() const { return verdict == Loaded || verdict == CutShort; }
};

// Clears `image` (ImageSize bytes), then reads the file at `path` into it.
FileLoad loadFile(const std::string& path, unsigned char* image);

// Why a file is not loaded, beginning with its name ("fw.hex is cut short: reading ended at
// malformed line 7"); empty when it is.
std::string problemText(const std::string& path, const FileLoad& load);

}
