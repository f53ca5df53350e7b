#include "hexreadchecker.h"

#include "intelhexparser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numeric>
#include <string_view>

using IntelHex::ReadResult;

namespace {

// What the image holds before each read: the reader must clear it, so none of it may survive.
constexpr unsigned char StaleByte = 0xA5;
// Pieces up to a little longer than the longest record line, so lines arrive whole and split alike.
constexpr std::size_t MaxPieceBytes = 600;
constexpr std::size_t WholeInput = ~std::size_t(0);

std::string describe(const ReadResult& r)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "status %d line %d progStart 0x%x programSize %d checksum %d extendedLinearAddress 0x%x "
                  "segmentAddress 0x%x ARMFlashAddress 0x%x",
                  int(r.status), r.line, unsigned(r.progStart), r.programSize, r.checksum,
                  unsigned(r.extendedLinearAddress), unsigned(r.segmentAddress), unsigned(r.ARMFlashAddress));
    return text;
}

bool sameResult(const ReadResult& a, const ReadResult& b)
{
    return a.status == b.status && a.line == b.line && a.progStart == b.progStart
           && a.extendedLinearAddress == b.extendedLinearAddress && a.segmentAddress == b.segmentAddress
           && a.ARMFlashAddress == b.ARMFlashAddress && a.programSize == b.programSize && a.checksum == b.checksum;
}

bool sameImage(const unsigned char* a, const unsigned char* b)
{
    return std::memcmp(a, b, std::size_t(IntelHex::ImageSize)) == 0;
}

// Reads `input` into `image`, handing it to the reader at most `pieceBytes` bytes per request.
ReadResult readInput(std::string_view input, std::size_t pieceBytes, unsigned char* image)
{
    std::fill_n(image, IntelHex::ImageSize, StaleByte);
    std::size_t pos = 0;
    const IntelHex::ReadBlock readBlock = [&](char* buffer, std::int64_t capacity) -> std::int64_t {
        const std::size_t n = std::min({std::size_t(capacity), pieceBytes, input.size() - pos});
        std::memcpy(buffer, input.data() + pos, n);
        pos += n;
        return std::int64_t(n);
    };
    return IntelHex::read(readBlock, image);
}

int lineCount(std::string_view input)
{
    const int terminated = int(std::count(input.begin(), input.end(), '\n'));
    return input.empty() || input.back() == '\n' ? terminated : terminated + 1;
}

bool isKnownStatus(ReadResult::Status status)
{
    switch (status) {
    case ReadResult::Complete:
    case ReadResult::UnsupportedRecordType:
    case ReadResult::AddressTooHigh:
    case ReadResult::ImageTooLarge:
    case ReadResult::RecordChecksumError:
        return true;
    }
    return false;
}

// Exactly one outcome: a complete program, or one failure that names the line it stopped at.
std::string checkOutcome(const ReadResult& r, std::string_view input)
{
    if (!isKnownStatus(r.status))
        return "unknown outcome: " + describe(r);
    if ((*IntelHex::statusText(r.status) == '\0') != r.isComplete())
        return "failure text and outcome disagree: " + describe(r);
    const int lines = lineCount(input);
    const int firstLine = r.isComplete() ? 0 : 1;
    if (r.line < firstLine || r.line > lines)
        return "line outside the " + std::to_string(lines) + " lines of the input: " + describe(r);
    if (!r.isComplete() && (r.programSize != 0 || r.checksum != 0))
        return "failed read set program size or checksum: " + describe(r);
    return {};
}

// One past the last program byte inside the image (the padding byte of an odd program may lie past it).
int programEnd(const ReadResult& r)
{
    return std::min(r.progStart + r.programSize, IntelHex::ImageSize);
}

// A complete read: an even size, a program that ends inside the image or one past it, a checksum that
// is the byte sum of the program, and nothing stored outside the program. A program of size 0 or less
// (empty records only, or none) leaves the whole image empty.
std::string checkProgram(const ReadResult& r, const unsigned char* image)
{
    if (r.programSize % 2 != 0)
        return "odd program size: " + describe(r);
    const std::int64_t end = std::int64_t(r.progStart) + r.programSize;
    if (end < 0 || end > IntelHex::ImageSize + 1)
        return "program end outside the image: " + describe(r);
    if (r.programSize > 0 && (r.progStart < 0 || r.progStart >= IntelHex::ImageSize))
        return "program start outside the image: " + describe(r);

    const int first = r.programSize > 0 ? r.progStart : 0;
    const int last = r.programSize > 0 ? programEnd(r) : 0;
    if (std::accumulate(image + first, image + last, 0) != r.checksum)
        return "checksum is not the byte sum of the program: " + describe(r);
    const auto isZero = [](unsigned char b) { return b == 0; };
    if (!std::all_of(image, image + first, isZero) || !std::all_of(image + last, image + IntelHex::ImageSize, isZero))
        return "bytes outside the program: " + describe(r);
    return {};
}

// The identifier scan by its definition, every start position from 1 in turn: the reference for the
// reader's scan, which jumps between occurrences of a literal character instead.
bool scanByDefinition(const unsigned char* data, int size, std::string_view pattern, std::string& match)
{
    const int length = int(pattern.size());
    const auto matches = [](char p, unsigned char b) {
        return p == '#' ? b >= '0' && b <= '9' : b == static_cast<unsigned char>(p);
    };
    for (int start = 1; start + length <= size; ++start) {
        int k = 0;
        while (k < length && matches(pattern[std::size_t(k)], data[start + k]))
            ++k;
        if (k == length) {
            match.assign(reinterpret_cast<const char*>(data + start), std::size_t(length));
            return true;
        }
    }
    match.clear();
    return false;
}

// The input bytes taken as an image: each pattern found where the definition finds it, and the
// identifier that of the first pattern found.
std::string checkIdentifierScan(std::string_view input)
{
    const auto* data = reinterpret_cast<const unsigned char*>(input.data());
    const int size = int(input.size());
    std::string identifier;
    for (const char* pattern : IntelHex::IdentifierPatterns) {
        std::string expected;
        const bool expectFound = scanByDefinition(data, size, pattern, expected);
        char match[IntelHex::IdentifierLength + 1] = {};
        const bool found = IntelHex::findPattern(data, size, pattern, match);
        if (found != expectFound || std::string_view(match) != expected)
            return std::string("pattern ") + pattern + " found as \"" + (found ? match : "") + "\" instead of \""
                   + expected + "\"";
        if (identifier.empty())
            identifier = expected;
    }
    const std::string scanned = IntelHex::findIdentifier(data, size);
    if (scanned != identifier)
        return "identifier \"" + scanned + "\" instead of \"" + identifier + "\"";
    return {};
}

}

std::string HexReadChecker::check(const char* data, std::size_t size)
{
    if (!m_image.isValid() || !m_pieceImage.isValid() || !m_roundTripImage.isValid())
        return "no address space for the guarded images";

    const std::string_view input(data, size);
    unsigned char* image = m_image.image();
    const ReadResult result = readInput(input, WholeInput, image);
    std::string broken = checkOutcome(result, input);
    if (broken.empty() && result.isComplete())
        broken = checkProgram(result, image);
    if (broken.empty())
        broken = checkIdentifierScan(input);
    if (!broken.empty())
        return broken;

    // The same bytes handed out a few at a time, so that lines straddle the reader's blocks.
    const std::size_t pieceBytes = 1 + std::hash<std::string_view>()(input) % MaxPieceBytes;
    const ReadResult piecewise = readInput(input, pieceBytes, m_pieceImage.image());
    if (!sameResult(piecewise, result) || !sameImage(m_pieceImage.image(), image))
        return "input read in pieces of " + std::to_string(pieceBytes) + " bytes reads as " + describe(piecewise)
               + " instead of " + describe(result);

    if (!result.isComplete() || result.programSize <= 0)
        return {};
    // Round trip: the program bytes inside the image, written with IntelHex::write at the program start
    // (segment records) and at the flash base plus the program start (linear records, which the reader
    // maps back to the same flash base), read back as a complete program with the same start, size,
    // checksum and flash base, and an image equal to the first in every byte (a complete read stores
    // nothing outside the program, so the written bytes are all it holds).
    const int programBytes = programEnd(result) - result.progStart;
    for (const auto style : {IntelHex::AddressStyle::Segment, IntelHex::AddressStyle::Linear}) {
        const bool linear = style == IntelHex::AddressStyle::Linear;
        const int flashBase = linear ? result.ARMFlashAddress : 0;
        const std::string styleName = linear ? "linear" : "segment";
        const std::string hex = IntelHex::write(image + result.progStart, programBytes,
                                                std::uint32_t(flashBase) + std::uint32_t(result.progStart), style);
        if (hex.empty())
            return "program not written with " + styleName + " records: " + describe(result);
        const ReadResult again = readInput(hex, WholeInput, m_roundTripImage.image());
        if (!again.isComplete() || again.line != 0 || again.progStart != result.progStart
            || again.programSize != result.programSize || again.checksum != result.checksum
            || again.ARMFlashAddress != flashBase || !sameImage(m_roundTripImage.image(), image))
            return "program written with " + styleName + " records reads back as " + describe(again) + " instead of "
                   + describe(result);
    }
    return {};
}
