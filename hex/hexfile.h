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
        Loaded,         // read to its end: a complete file (it may still hold no identifier)
        NotRegularFile, // a folder, FIFO, device or socket, refused without being opened; `fileError` says which
        CannotOpen,     // the file could not be opened; `fileError` says why
        NoRecords,      // an empty file
        NotHexRecords,  // its first line is not a record: not a HEX file at all
        CutShort,       // a malformed line, a last record cut off or a missing end record ended the reading
        Rejected,       // the reader failed: `read.status` and `read.line`
    };
    Verdict verdict = Loaded;
    ReadResult read;
    // Found only when the reader came to a normal end; empty when the image holds none.
    std::string identifier;
    std::string fileError;

    bool wasOpened() const { return verdict != NotRegularFile && verdict != CannotOpen; }
};

// Clears `image` (ImageSize bytes), then reads the file at `path` into it. Anything but a regular file
// is refused before it is opened: opening a FIFO would wait for a writer, and a device may act on it.
FileLoad loadFile(const std::string& path, unsigned char* image);

// Why a file is not loaded, beginning with its name ("fw.hex is cut short: reading ended at
// malformed line 7"); empty when it is.
std::string problemText(const std::string& path, const FileLoad& load);

// The warning for records that overlap, beginning with the file's name; empty when none do.
std::string overlapText(const std::string& path, const ReadResult& read);

}
