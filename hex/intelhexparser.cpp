#include "intelhexparser.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace IntelHex {

namespace {

// Character positions of the record fields within a line.
constexpr int CountPos = 1;
constexpr int AddressPos = 3;
constexpr int AddressLowPos = 5;
constexpr int TypePos = 7;
constexpr int DataPos = 9;
// Types 2 and 4 carry their value here whatever their byte count says.
constexpr int ExtendedAddressPos = DataPos;

constexpr int MaxRecordBytes = 255;
// A shorter line cannot hold a record; it ends reading.
constexpr int MinLineChars = 11;
constexpr char LineEnd = '\n';
// The record checksum's two digits after the data.
constexpr int ChecksumChars = 2;
// Image bytes per word of the map of stored bytes.
constexpr int StoredMapBits = 64;
// No field lies beyond this many characters of a line, so a longer line is cut here and the rest skipped.
constexpr int MaxLineChars = DataPos + 2 * MaxRecordBytes + 2;
constexpr std::int64_t ReadBlockBytes = 64 * 1024;

// Offset 0 never starts an identifier.
constexpr int FirstPatternStart = 1;

constexpr int SegmentScale = 16;
constexpr int LinearShift = 16;
constexpr std::uint32_t PageBytes = 0x10000;
constexpr int DataRecordBytes = 16;
// Segment records reach 0xFFFF0 + 0xFFFF; the writer keeps to the first MiB.
constexpr std::uint64_t SegmentStyleLimit = 0x100000;
constexpr std::uint64_t AddressSpaceBytes = std::uint64_t(1) << 32;

// Flash bases that linear addresses of ARM parts carry; taken out so that the program lands at offset 0.
constexpr int HighestMappedLinearAddress = 0x1FFEFFFF;
constexpr int LowFlashBase = 0x00100000;
constexpr std::uint32_t LowFlashSpan = 0x3FFFF;
constexpr int HighFlashBases[] = {0x10000000, 0x0C000000, 0x08000000};

struct HexDigitTable
{
    signed char value[256];
};

constexpr HexDigitTable makeHexDigitTable()
{
    HexDigitTable table{};
    for (int c = 0; c < 256; ++c)
        table.value[c] = -1;
    for (int c = 0; c < 10; ++c)
        table.value['0' + c] = static_cast<signed char>(c);
    for (int c = 0; c < 6; ++c) {
        table.value['A' + c] = static_cast<signed char>(10 + c);
        table.value['a' + c] = static_cast<signed char>(10 + c);
    }
    return table;
}

constexpr HexDigitTable HexDigits = makeHexDigitTable();

// The value of the hexadecimal field of `digits` characters at `pos`; a field that runs past the line
// or holds anything but hex digits reads as 0, without complaint.
int field(const char* line, int length, int pos, int digits)
{
    if (pos + digits > length)
        return 0;
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = HexDigits.value[static_cast<unsigned char>(line[pos + i])];
        if (digit < 0)
            return 0;
        value = value * 16 + digit;
    }
    return value;
}

// Hands out the lines of a stream, terminator included, each cut to MaxLineChars characters; the
// rest of a longer line is skipped in blocks, so memory stays bounded whatever the input.
class LineReader
{
public:
    explicit LineReader(const ReadBlock& readBlock)
        : m_readBlock(readBlock)
        , m_block(new char[ReadBlockBytes])
    {
    }

    // The next line; false at the end of the stream.
    bool next(const char*& line, int& length)
    {
        if (m_skipRestOfLine && !skipRestOfLine())
            return false;
        length = 0;
        for (;;) {
            if (m_pos == m_end && !fill())
                break;
            const char* start = m_block.get() + m_pos;
            const auto* newline = static_cast<const char*>(std::memchr(start, '\n', size_t(m_end - m_pos)));
            const int available = newline ? int(newline - start) + 1 : m_end - m_pos;
            if (length == 0 && newline) {
                // The common case: the whole line lies in the block and is handed out in place.
                m_pos += available;
                line = start;
                length = std::min(available, MaxLineChars);
                return true;
            }
            const int taken = std::min(available, MaxLineChars - length);
            std::memcpy(m_line + length, start, size_t(taken));
            length += taken;
            m_pos += available;
            if (newline)
                break;
            if (length == MaxLineChars) {
                m_skipRestOfLine = true;
                break;
            }
        }
        line = m_line;
        return length > 0;
    }

private:
    bool fill()
    {
        const std::int64_t got = m_readBlock(m_block.get(), ReadBlockBytes);
        m_pos = 0;
        m_end = got > 0 ? int(got) : 0;
        return m_end > 0;
    }

    // Moves past the next line end; false when the stream ends first.
    bool skipRestOfLine()
    {
        for (;;) {
            if (m_pos == m_end && !fill())
                return false;
            const char* start = m_block.get() + m_pos;
            const auto* newline = static_cast<const char*>(std::memchr(start, '\n', size_t(m_end - m_pos)));
            if (newline) {
                m_pos += int(newline - start) + 1;
                m_skipRestOfLine = false;
                return true;
            }
            m_pos = m_end;
        }
    }

    const ReadBlock& m_readBlock;
    std::unique_ptr<char[]> m_block;
    int m_pos = 0;
    int m_end = 0;
    char m_line[MaxLineChars];
    bool m_skipRestOfLine = false;
};

// Takes a known flash base out of the linear address just read; the first row that holds applies.
void mapFlashBase(ReadResult& result)
{
    const int linear = result.extendedLinearAddress;
    if (linear > HighestMappedLinearAddress)
        return;
    if (std::uint32_t(linear) - std::uint32_t(LowFlashBase) <= LowFlashSpan) {
        result.extendedLinearAddress = linear - LowFlashBase;
        result.ARMFlashAddress = LowFlashBase;
        return;
    }
    for (const int base : HighFlashBases) {
        if (linear >= base) {
            result.extendedLinearAddress = linear - base;
            result.ARMFlashAddress = base;
            return;
        }
    }
}

bool digitOrSame(char patternChar, unsigned char byte)
{
    return patternChar == '#' ? (byte >= '0' && byte <= '9') : byte == static_cast<unsigned char>(patternChar);
}

void appendHexByte(std::string& out, int byte)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    out += Digits[(byte >> 4) & 0xF];
    out += Digits[byte & 0xF];
}

}

const char* statusText(ReadResult::Status status)
{
    switch (status) {
    case ReadResult::Complete:
        return "";
    case ReadResult::UnsupportedRecordType:
        return "record type not supported!";
    case ReadResult::AddressTooHigh:
        return "address too high";
    case ReadResult::ImageTooLarge:
        return "HEX file too large";
    case ReadResult::RecordChecksumError:
        return "record checksum error";
    }
    return "";
}

std::string cutShortText(const ReadResult& result)
{
    if (!result.isCutShort())
        return std::string();
    if (result.lastRecordCut)
        return "line " + std::to_string(result.line) + " ends inside its record";
    if (result.line > 0)
        return "reading ended at malformed line " + std::to_string(result.line);
    return "no end-of-file record";
}

std::string record(int type, std::uint16_t address, const unsigned char* bytes, int count)
{
    std::string line;
    line.reserve(size_t(DataPos + 2 * count + 3));
    int sum = count + (address >> 8) + (address & 0xFF) + type;
    line += ':';
    appendHexByte(line, count);
    appendHexByte(line, address >> 8);
    appendHexByte(line, address);
    appendHexByte(line, type);
    for (int i = 0; i < count; ++i) {
        appendHexByte(line, bytes[i]);
        sum += bytes[i];
    }
    appendHexByte(line, (0x100 - sum % 0x100) % 0x100);
    line += '\n';
    return line;
}

ReadResult read(const ReadBlock& readBlock, unsigned char* image)
{
    std::fill_n(image, ImageSize, 0);
    ReadResult result;
    LineReader reader(readBlock);
    int end = 0; // one past the highest offset stored
    bool firstDataRecord = true;
    const char* line = nullptr;
    int length = 0;
    // One bit per image byte: set once a record has stored it.
    std::vector<std::uint64_t> stored(ImageSize / StoredMapBits);
    for (int lineNumber = 1; reader.next(line, length); ++lineNumber) {
        result.linesRead = lineNumber;
        const int count = field(line, length, CountPos, 2);
        // Only the stream's last line can lack its line end (a longer one is cut at MaxLineChars,
        // which no record exceeds).
        if (line[0] == ':' && line[length - 1] != LineEnd && length < DataPos + 2 * count + ChecksumChars) {
            result.line = lineNumber;
            result.lastRecordCut = true;
            break;
        }
        if (length < MinLineChars || line[0] != ':') {
            result.line = lineNumber;
            break;
        }
        const int address = field(line, length, AddressPos, 4);
        const int type = field(line, length, TypePos, 2);
        const int addressHigh = field(line, length, AddressPos, 2);
        const int addressLow = field(line, length, AddressLowPos, 2);
        const int recordChecksum = field(line, length, DataPos + 2 * count, 2);

        if (type == DataRecord) {
            // A linear base of 0x80000000 or more reads negative in the signed member and no flash base
            // maps it; such data lies far above the image, so it is skipped like any data above the window.
            if (result.extendedLinearAddress >= LinearWindowBytes || result.extendedLinearAddress < 0)
                continue;
            const int base = result.extendedLinearAddress + result.segmentAddress + address;
            result.progStart = firstDataRecord ? base : std::min(result.progStart, base);
            int sum = count + addressHigh + addressLow + type;
            for (int i = 0; i < count; ++i) {
                const int offset = base + i;
                if (offset >= ImageSize) {
                    result.status = offset > ImageSize ? ReadResult::AddressTooHigh : ReadResult::ImageTooLarge;
                    result.line = lineNumber;
                    return result;
                }
                const int byte = field(line, length, DataPos + 2 * i, 2);
                std::uint64_t& storedWord = stored[size_t(offset / StoredMapBits)];
                const std::uint64_t storedBit = std::uint64_t(1) << (offset % StoredMapBits);
                if ((storedWord & storedBit) != 0 && result.overlapLine == 0) {
                    result.overlapLine = lineNumber;
                    result.overlapAddress = std::uint32_t(result.ARMFlashAddress) + std::uint32_t(offset);
                }
                storedWord |= storedBit;
                image[offset] = static_cast<unsigned char>(byte);
                end = std::max(end, offset + 1);
                sum += byte;
            }
            if ((sum + recordChecksum) % 256 != 0) {
                result.status = ReadResult::RecordChecksumError;
                result.line = lineNumber;
                return result;
            }
            firstDataRecord = false;
        } else if (type == EndOfFileRecord) {
            result.sawEndOfFileRecord = true;
            break;
        } else if (type == ExtendedSegmentAddressRecord) {
            result.segmentAddress = field(line, length, ExtendedAddressPos, 4) * SegmentScale;
        } else if (type == ExtendedLinearAddressRecord) {
            result.extendedLinearAddress =
                static_cast<int>(static_cast<std::uint32_t>(field(line, length, ExtendedAddressPos, 4)) << LinearShift);
            mapFlashBase(result);
        } else if (type != StartSegmentAddressRecord && type != StartLinearAddressRecord) {
            result.status = ReadResult::UnsupportedRecordType;
            result.line = lineNumber;
            return result;
        }
    }

    for (int offset = result.progStart; offset < end; ++offset)
        result.checksum += image[offset];
    result.programSize = end - result.progStart;
    // The module is written in 16-bit words; the padding byte is the fill value and leaves the sum alone.
    if (result.programSize % 2 != 0)
        ++result.programSize;
    return result;
}

bool findPattern(const unsigned char* data, int size, const char* pattern, char* match)
{
    const int length = int(std::strlen(pattern));
    const int lastStart = size - length;
    // Jumps from one occurrence of the pattern's first literal character to the next instead of trying
    // every position; positions are still tried lowest first, so the match found is the same.
    int anchor = 0;
    while (anchor < length && pattern[anchor] == '#')
        ++anchor;
    for (int start = FirstPatternStart; start <= lastStart; ++start) {
        if (anchor < length) {
            const auto* hit = static_cast<const unsigned char*>(
                std::memchr(data + start + anchor, pattern[anchor], size_t(lastStart - start + 1)));
            if (!hit)
                break;
            start = int(hit - data) - anchor;
        }
        int k = 0;
        while (k < length && digitOrSame(pattern[k], data[start + k]))
            ++k;
        if (k == length) {
            std::memcpy(match, data + start, size_t(length));
            match[length] = '\0';
            return true;
        }
    }
    match[0] = '\0';
    return false;
}

std::string findIdentifier(const unsigned char* image, int size)
{
    char match[IdentifierLength + 1];
    for (const char* pattern : IdentifierPatterns) {
        if (findPattern(image, size, pattern, match))
            return match;
    }
    return std::string();
}

std::string write(const unsigned char* data, int size, std::uint32_t baseAddress, AddressStyle style)
{
    const std::uint64_t endAddress = std::uint64_t(baseAddress) + std::uint64_t(std::max(size, 0));
    if (size < 0 || endAddress > (style == AddressStyle::Segment ? SegmentStyleLimit : AddressSpaceBytes))
        return std::string();

    std::string text;
    bool pageWritten = false;
    std::uint32_t page = 0;
    for (int offset = 0; offset < size;) {
        const std::uint32_t address = baseAddress + std::uint32_t(offset);
        if (!pageWritten || address / PageBytes != page) {
            page = address / PageBytes;
            pageWritten = true;
            const std::uint32_t value = style == AddressStyle::Linear ? page : page * (PageBytes / SegmentScale);
            const unsigned char valueBytes[] = {static_cast<unsigned char>(value >> 8),
                                                static_cast<unsigned char>(value)};
            text += record(style == AddressStyle::Linear ? ExtendedLinearAddressRecord : ExtendedSegmentAddressRecord,
                           0, valueBytes, 2);
        }
        const int chunk = int(std::min<std::uint32_t>({std::uint32_t(DataRecordBytes), std::uint32_t(size - offset),
                                                      PageBytes - address % PageBytes}));
        text += record(DataRecord, std::uint16_t(address % PageBytes), data + offset, chunk);
        offset += chunk;
    }
    text += record(EndOfFileRecord, 0, nullptr, 0);
    return text;
}

}
