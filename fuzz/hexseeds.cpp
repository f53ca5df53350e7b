// Writes the fuzzer's seed inputs into the folder given as the only argument: HEX files made by the
// writer the tests use, with both address styles and the flash bases the reader knows, and a few
// files broken the ways real ones break.
#include "intelhexparser.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Small enough that every seed stays below the fuzzer's input size limit.
constexpr int MaxPayloadBytes = 0x300;
constexpr int IdentifierOffset = 0x10;

using Bytes = std::vector<unsigned char>;

Bytes payload(int size, int seed)
{
    Bytes out(std::size_t(size), 0);
    for (int i = 0; i < size; ++i)
        out[std::size_t(i)] = static_cast<unsigned char>((i * 131 + seed) & 0xFF);
    // An identifier, so that inputs keep the shape of real firmware.
    const std::string identifier = "1234V567";
    if (size >= IdentifierOffset + int(identifier.size()))
        std::copy(identifier.begin(), identifier.end(), out.begin() + IdentifierOffset);
    return out;
}

std::string hex(const Bytes& data, std::uint32_t base, IntelHex::AddressStyle style)
{
    return IntelHex::write(data.data(), int(data.size()), base, style);
}

std::string record(int type, std::uint16_t address, const Bytes& bytes)
{
    return IntelHex::record(type, address, bytes.data(), int(bytes.size()));
}

std::string addressRecord(int type, int value)
{
    return record(type, 0, {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)});
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool save(const std::filesystem::path& dir, int index, const std::string& name, const std::string& content)
{
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", index);
    const std::filesystem::path path = dir / (prefix + name + ".hex");
    std::ofstream file(path, std::ios::binary);
    file.write(content.data(), std::streamsize(content.size()));
    if (!file) {
        std::fprintf(stderr, "hexseeds: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: hexseeds <folder>\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "hexseeds: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }

    struct Placement {
        IntelHex::AddressStyle style;
        std::uint32_t base;
        int size;
    };
    constexpr std::uint32_t End = IntelHex::ImageSize;
    const Placement placements[] = {
        {IntelHex::AddressStyle::Segment, 0, 1},
        {IntelHex::AddressStyle::Segment, 0, 16},
        {IntelHex::AddressStyle::Segment, 0x100, 33},
        {IntelHex::AddressStyle::Segment, 0xFFF5, 40},          // crosses 64 KiB
        {IntelHex::AddressStyle::Segment, End - 0x101, 0x101},  // ends at the last image byte
        {IntelHex::AddressStyle::Segment, End - 0x80, 0x100},   // runs past the image
        {IntelHex::AddressStyle::Segment, 0, MaxPayloadBytes},
        {IntelHex::AddressStyle::Linear, 0x1234, 100},
        {IntelHex::AddressStyle::Linear, 0x08000000, MaxPayloadBytes},
        {IntelHex::AddressStyle::Linear, 0x0803FFF0, 0x20},     // crosses the image end
        {IntelHex::AddressStyle::Linear, 0x00100000, 33},
        {IntelHex::AddressStyle::Linear, 0x0C000000, 0x40},
        {IntelHex::AddressStyle::Linear, 0x10000000, 0x40},
        {IntelHex::AddressStyle::Linear, 0x08100000, 0x40},     // 1 MiB above the flash base: skipped
        {IntelHex::AddressStyle::Linear, 0x1FFF0000, 0x40},     // above every flash base
        {IntelHex::AddressStyle::Linear, 0x80000000, 0x40},     // negative linear base
    };
    bool ok = true;
    int index = 0;
    for (const Placement& p : placements) {
        char name[40];
        std::snprintf(name, sizeof name, "%s-%08x-%d",
                      p.style == IntelHex::AddressStyle::Linear ? "linear" : "segment", unsigned(p.base), p.size);
        ok = save(dir, index, name, hex(payload(p.size, index), p.base, p.style)) && ok;
        ++index;
    }

    const std::string valid = hex(payload(0x40, 1), 0x08000100, IntelHex::AddressStyle::Linear);
    const std::string eof = record(IntelHex::EndOfFileRecord, 0, {});
    const std::string data = record(IntelHex::DataRecord, 0x20, {0x01, 0x02, 0x03, 0x04});
    std::string badChecksum = data;
    char& lastDigit = badChecksum[badChecksum.size() - 2];
    lastDigit = lastDigit == '0' ? '1' : '0';
    const std::pair<const char*, std::string> broken[] = {
        {"crlf", replaceAll(valid, "\n", "\r\n")},
        {"lower-case", lowerCase(valid)},
        {"no-line-end", valid.substr(0, valid.size() - 1)},
        {"eof-only", eof},
        {"bad-checksum", data + badChecksum + eof},
        {"type-06", data + record(6, 0, {}) + eof},
        {"start-records", record(IntelHex::StartSegmentAddressRecord, 0, {0x12, 0x34, 0x56, 0x78})
                              + record(IntelHex::StartLinearAddressRecord, 0, {0x08, 0x00, 0x01, 0x00}) + data + eof},
        {"segment-count-3", record(IntelHex::ExtendedSegmentAddressRecord, 0, {0x20, 0x00, 0x99}) + data},
        {"empty-record-low", data + record(IntelHex::DataRecord, 0x08, {}) + eof},
        {"empty-line", data + "\n" + data + eof},
        {"no-colon", data + data.substr(1) + eof},
        {"ten-characters", data + ":00000001\n"},
        {"non-hex-address", ":010G100041AE\n" + eof},
        {"checksum-past-end", ":0100000041\n"},
        {"long-line", data.substr(0, data.size() - 1) + std::string(700, 'x') + "\n" + data},
        {"after-eof", data + eof + record(6, 0, {}) + "garbage\n"},
        {"base-0x40000",
         addressRecord(IntelHex::ExtendedLinearAddressRecord, 4) + record(IntelHex::DataRecord, 1, {0x5A}) + eof},
        {"last-byte", addressRecord(IntelHex::ExtendedLinearAddressRecord, 3)
                          + record(IntelHex::DataRecord, 0xFFFF, {0x5A, 0x5B}) + eof},
    };
    for (const auto& [name, content] : broken)
        ok = save(dir, index++, name, content) && ok;
    return ok ? 0 : 1;
}
