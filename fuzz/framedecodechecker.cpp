#include "framedecodechecker.h"

#include "duxlframe.h"
#include "duxlframedecoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// What the decoder may spend per byte (sanitizers on) and per input: enough for one pass with a frame's
// length of look-back at each false start. A decoder that rescans its buffer after every false start
// is quadratic and shows it on long runs of start bytes (64 KiB took 0.65 s against 28 ms allowed);
// the fuzzer's inputs of up to 4 KiB are too short for that to show.
constexpr double MaxNsPerByte = 400;
constexpr double SlackNs = 2e6;
// A slow measurement is repeated and the fastest one counts, so that a loaded machine is not a finding.
constexpr int TimingTries = 3;

std::string text(const char* format, long long a, long long b = 0)
{
    char out[200];
    std::snprintf(out, sizeof out, format, a, b);
    return out;
}

bool sameFields(const DuxlFrame& a, const DuxlFrame& b)
{
    return a.kind() == b.kind() && a.sequence() == b.sequence() && a.flags() == b.flags()
        && a.moduleAddress() == b.moduleAddress()
        && a.command() == b.command() && a.type() == b.type() && a.motorBank() == b.motorBank()
        && a.value() == b.value() && a.status() == b.status() && a.text() == b.text();
}

// `frame` as handed out, checked against the `length` input bytes at `bytes` it was cut from.
std::string checkFrame(const DuxlFrame& frame, const char* bytes, long long length)
{
    if (length < DuxlFrame::HeaderBytes + DuxlFrame::CrcBytes || length > DuxlFrame::MaxFrameBytes)
        return text("a frame of %lld bytes", length);
    if (quint8(bytes[0]) != DuxlFrame::StartOfFrame)
        return text("a frame starting with 0x%llx", quint8(bytes[0]));
    const int expected = DuxlFrame::frameLength(bytes, int(length));
    if (expected != length)
        return text("a frame of %lld bytes whose header says %lld", length, expected);
    const int crcOffset = int(length) - DuxlFrame::CrcBytes;
    const quint16 crc = quint16((quint8(bytes[crcOffset]) << 8) | quint8(bytes[crcOffset + 1]));
    if (DuxlFrame::crc16(bytes + 1, crcOffset - 1) != crc)
        return text("a frame whose CRC 0x%llx does not match", crc);
    if (!sameFields(frame, DuxlFrame::fromBytes(bytes, int(length))))
        return "a frame whose fields are not those of its bytes";
    return {};
}

// Decodes the input handed over in pieces of `pieceBytes` and checks every result.
std::string decode(const char* data, std::size_t size, std::size_t pieceBytes)
{
    DuxlFrameDecoder decoder;
    long long appended = 0;
    long long consumed = 0; // bytes no longer in the decoder's buffer: in frames or skipped
    long long skipped = 0;
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min(pieceBytes, size - offset);
        decoder.append(QByteArray(data + offset, int(piece)));
        offset += piece;
        appended += (long long)piece;
        DuxlFrame frame;
        DuxlFrameDecoder::Result result;
        do {
            result = decoder.next(&frame);
            const long long nowConsumed = appended - decoder.bufferedBytes();
            const long long nowSkipped = decoder.discardedBytes();
            const long long taken = (nowConsumed - consumed) - (nowSkipped - skipped);
            if (nowConsumed < consumed || nowSkipped < skipped || taken < 0)
                return text("bytes came back into the buffer (%lld consumed, %lld skipped)", nowConsumed, nowSkipped);
            if (result == DuxlFrameDecoder::Result::Frame) {
                const std::string broken = checkFrame(frame, data + nowConsumed - taken, taken);
                if (!broken.empty())
                    return broken + text(" at offset %lld", nowConsumed - taken);
            } else if (taken != 0) {
                return text("%lld bytes gone without a frame or being counted as skipped", taken);
            }
            if (result == DuxlFrameDecoder::Result::Corrupt && nowConsumed == consumed)
                return text("a corrupt candidate reported without dropping a byte at offset %lld", consumed);
            consumed = nowConsumed;
            skipped = nowSkipped;
        } while (result != DuxlFrameDecoder::Result::NeedMore);
        if (decoder.bufferedBytes() >= DuxlFrame::MaxFrameBytes)
            return text("%lld bytes held undecided at offset %lld", decoder.bufferedBytes(), (long long)offset);
    } while (offset < size);
    return {};
}

}

std::string FrameDecodeChecker::check(const char* data, std::size_t size)
{
    // The last byte chooses the piece size (1 to 48), so that frames arrive split at every place.
    const std::size_t pieceBytes = size == 0 ? 1 : 1 + quint8(data[size - 1]) % 48;
    std::string broken = decode(data, size, pieceBytes);
    if (!broken.empty())
        return broken + text(" (pieces of %lld bytes)", (long long)pieceBytes);

    const double boundNs = MaxNsPerByte * double(size) + SlackNs;
    double fastestNs = 0;
    for (int attempt = 0; attempt < TimingTries; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        broken = decode(data, size, std::max<std::size_t>(size, 1));
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        if (!broken.empty())
            return broken + " (whole)";
        fastestNs = attempt == 0 ? ns : std::min(fastestNs, ns);
        if (fastestNs <= boundNs)
            return {};
    }
    return text("%lld bytes decoded in %lld us", (long long)size, (long long)(fastestNs / 1000));
}
