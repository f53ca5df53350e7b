#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Reads Intel HEX firmware files into the flat program image and writes images back as HEX text.
// Plain C++ without widgets or Qt, so that the loader can be tested and fuzzed on its own and the
// command-line tools built on it start without loading Qt.
namespace IntelHex {

// Bytes of the program image; data beyond it makes a file too large.
constexpr int ImageSize = 0x40000;
// Data is taken only from this window above the linear base (after the flash base is taken out).
constexpr int LinearWindowBytes = 0x100000;

enum RecordType {
    DataRecord = 0,
    EndOfFileRecord = 1,
    ExtendedSegmentAddressRecord = 2,
    StartSegmentAddressRecord = 3,
    ExtendedLinearAddressRecord = 4,
    StartLinearAddressRecord = 5,
};

// The patterns of the firmware identifier, tried in this order ('#' stands for a decimal digit).
inline constexpr const char* IdentifierPatterns[] = {"####V###", "####C###", "###V#.##", "C###V###", "C###C###"};
// Characters of an identifier.
constexpr int IdentifierLength = 8;

// What one read of a HEX stream left behind.
struct ReadResult
{
    enum Status {
        Complete,              // the program is finished: end of stream, end-of-file record or a malformed line
        UnsupportedRecordType, // a record type other than 0 to 5
        AddressTooHigh,        // a data byte above the end of the image
        ImageTooLarge,         // a data byte exactly at the end of the image
        RecordChecksumError,   // a data record whose checksum does not add up
    };
    Status status = Complete;
    // The line that ended reading: the failing record, or on Complete a line shorter than a record or
    // without ':' at its start; 0 when reading ran to the end-of-file record or the end of the stream.
    int line = 0;

    // Where reading stopped, also after a failure.
    int progStart = 0;
    int extendedLinearAddress = 0;
    int segmentAddress = 0;
    int ARMFlashAddress = 0;

    // Set on Complete only: program bytes from progStart (rounded up to even) and their byte sum.
    int programSize = 0;
    int checksum = 0;
    // Reading met the end-of-file record; without it the file may still be being written.
    bool sawEndOfFileRecord = false;
    // Lines read, the one that ended reading included; 0 for an empty stream.
    int linesRead = 0;
    // On Complete with `line` set: that line is the stream's last and ends inside its record (no line
    // end, fewer characters than its byte count asks for), as a file cut off while being written does.
    bool lastRecordCut = false;
    // The first data byte stored where an earlier record had stored one: the line of that record and
    // the byte's address (flash base included); 0 and 0 when no records overlap. The later byte stays.
    int overlapLine = 0;
    std::uint32_t overlapAddress = 0;

    bool isComplete() const { return status == Complete; }
    // Complete, but cut short by a malformed line.
    bool endedAtBadLine() const { return status == Complete && line > 0 && !lastRecordCut; }
    // Complete as the loader reads it, but not firmware to write: a malformed line, a last record cut
    // off, or a missing end-of-file record ended it.
    bool isCutShort() const { return status == Complete && (line > 0 || !sawEndOfFileRecord); }
};

// The diagnostic text of a failed status (empty for Complete).
const char* statusText(ReadResult::Status status);

// Why a complete read is cut short ("reading ended at malformed line 7", "line 9 ends inside its
// record", "no end-of-file record"); empty when it is not.
std::string cutShortText(const ReadResult& result);

// Fills `buffer` with up to `capacity` bytes of the stream and returns how many; 0 (or less) at its end.
using ReadBlock = std::function<std::int64_t(char* buffer, std::int64_t capacity)>;

// Fills `image` (ImageSize bytes) with 0, then reads the stream line by line into it. Lines are read
// with a length cap, so an endless line or a huge file of garbage costs bounded memory; bytes that
// would lie outside the image are never stored.
ReadResult read(const ReadBlock& readBlock, unsigned char* image);

// Looks for `pattern` ('#' = any decimal digit, every other character itself) at the start positions
// 1 .. size - length (offset 0 is never one), lowest first. On success copies the match into `match`
// (which must hold strlen(pattern) + 1 characters) followed by a NUL; on failure leaves `match` empty.
bool findPattern(const unsigned char* data, int size, const char* pattern, char* match);

// The first identifier pattern, in pattern order, that occurs in the image; empty when none does.
std::string findIdentifier(const unsigned char* image, int size);

// How the upper address bits of the written records are given.
enum class AddressStyle {
    Segment, // type 02 extended segment address records; the data must end at or below 0x100000
    Linear,  // type 04 extended linear address records
};

// One record line: ':', byte count, address, type, the bytes and a valid checksum, in upper-case digits, LF.
std::string record(int type, std::uint16_t address, const unsigned char* bytes, int count);

// HEX text (LF line ends) for `size` bytes of `data` placed at `baseAddress`: an extended address
// record first and wherever the upper address changes, data records of 16 bytes that never cross a
// 64 KiB boundary, and the end-of-file record. Empty when the data does not fit the address style.
std::string write(const unsigned char* data, int size, std::uint32_t baseAddress, AddressStyle style);

}
