#include "wirefault.h"

#include "bootloadercommands.h"
#include "commandhandlerinterface.h"

#include <QRandomGenerator>

#include <algorithm>
#include <iterator>

namespace {

struct KindName
{
    WireFault::Kind kind;
    const char* name;
};
constexpr KindName KindNames[] = {
    {WireFault::Kind::LostReply, "lost-reply"},
    {WireFault::Kind::CorruptFrame, "corrupt-frame"},
    {WireFault::Kind::DuplicatedReply, "duplicated-reply"},
    {WireFault::Kind::StaleReply, "stale-reply"},
    {WireFault::Kind::LateReply, "late-reply"},
    {WireFault::Kind::Stall, "stall"},
    {WireFault::Kind::PortVanishes, "port-vanishes"},
    {WireFault::Kind::PortRenamed, "port-renamed"},
    {WireFault::Kind::WrongBaud, "wrong-baud"},
    {WireFault::Kind::ErrorStatus, "error-status"},
    {WireFault::Kind::ChecksumMismatch, "checksum-mismatch"},
    {WireFault::Kind::LostRequest, "lost-request"},
    {WireFault::Kind::CorruptRequest, "corrupt-request"},
    {WireFault::Kind::DuplicatedRequest, "duplicated-request"},
    {WireFault::Kind::SlowRestart, "slow-restart"},
    {WireFault::Kind::LateDuplicate, "late-duplicate"},
    {WireFault::Kind::EarlyReply, "early-reply"},
    {WireFault::Kind::WrongEcho, "wrong-echo"},
    {WireFault::Kind::UnexpectedStatus, "unexpected-status"},
    {WireFault::Kind::ImplausibleValue, "implausible-value"},
    {WireFault::Kind::JunkVersion, "junk-version"},
    {WireFault::Kind::Unsolicited, "unsolicited"},
    {WireFault::Kind::BootloaderRestart, "bootloader-restart"},
};

// 8N1: start bit, 8 data bits (least significant first), stop bit.
constexpr int BitsPerFrame = 10;
constexpr int DataBits = 8;
// The receiver looks at the line this many times per bit while it waits for a start bit.
constexpr int SamplesPerBit = 16;
// What the tty driver hands over for a character that ended in a framing error.
constexpr char FramingErrorByte = '\0';

// No page is 3 bytes (not even a flash word), no image starts 15 bytes below the end of the address
// space, and no image fits in no memory.
constexpr quint32 ImplausiblePageSize = 3;
constexpr quint32 ImplausibleFlashBase = 0xFFFFFFF1;
constexpr quint32 ImplausibleMemorySize = 0;
// A drawn fault goes off at one of the requests each phase of a clean update has (the write phase:
// one of its first words), so that it does go off.
struct PhaseRequests
{
    WireFault::Phase phase;
    int requests;
};
constexpr PhaseRequests DrawnRequests[] = {
    {WireFault::Phase::Entry, 1},   {WireFault::Phase::Detection, 2}, {WireFault::Phase::Parameters, 3},
    {WireFault::Phase::Erase, 1},   {WireFault::Phase::Write, 64},    {WireFault::Phase::Verify, 1},
    {WireFault::Phase::Store, 2},   {WireFault::Phase::Restart, 1},   {WireFault::Phase::Reconnect, 1},
};
// The longest text a version reply carries.
constexpr int JunkVersionBytes = 32;

// The line level at time `t` (in receiver bit times) while `bytes` go out at 1/factor of the rate.
bool lineHigh(const QByteArray& bytes, double t, int factor)
{
    if (t < 0)
        return true;
    const double characterTime = double(BitsPerFrame) * factor;
    const int index = int(t / characterTime);
    if (index >= bytes.size())
        return true;
    const int bit = int((t - index * characterTime) / factor);
    if (bit == 0)
        return false;
    if (bit > DataBits)
        return true;
    return (quint8(bytes.at(index)) >> (bit - 1)) & 1;
}

}

WireFault::WireFault(Kind kind, Phase phase, int nth)
    : m_kind(kind)
    , m_phase(phase)
    , m_nth(nth)
{
}

bool WireFault::parse(const QString& text, WireFault* fault, QString* error)
{
    const int at = text.indexOf(QLatin1Char('@'));
    const QString kindText = text.left(at);
    const QStringList place = text.mid(at + 1).split(QLatin1Char(':'));
    const auto kind = std::find_if(std::begin(KindNames), std::end(KindNames),
                                   [&](const KindName& entry) { return kindText == QLatin1String(entry.name); });
    Phase phase = NoPhase;
    const bool phaseKnown = UpdatePhases::fromName(place.at(0), &phase);
    bool nthOk = true;
    const bool every = place.size() > 1 && place.at(1) == QLatin1String("*");
    const int nth = every ? EveryRequest : place.size() > 1 ? place.at(1).toInt(&nthOk) : 1;
    if (at < 0 || kind == std::end(KindNames) || !phaseKnown || place.size() > 2 || !nthOk
        || (nth < 1 && !every)) {
        *error = QStringLiteral("\"%1\" is not KIND@PHASE[:NTH] with KIND one of %2 and PHASE one of %3")
                     .arg(text, kindNames().join(QStringLiteral(", ")), phaseNames().join(QStringLiteral(", ")));
        return false;
    }
    if (!existsIn(kind->kind, phase)) {
        *error = QStringLiteral("%1 does not exist in the %2 phase").arg(kindText, place.at(0));
        return false;
    }
    *fault = WireFault(kind->kind, phase, nth);
    return true;
}

QString WireFault::toString() const
{
    return kindName(m_kind) + QLatin1Char('@') + phaseName(m_phase) + QLatin1Char(':')
        + (everyRequest() ? QStringLiteral("*") : QString::number(m_nth));
}

QString WireFault::kindName(Kind kind)
{
    for (const KindName& entry : KindNames) {
        if (entry.kind == kind)
            return QLatin1String(entry.name);
    }
    return QString();
}

QString WireFault::phaseName(Phase phase)
{
    return phase == NoPhase ? QStringLiteral("none") : UpdatePhases::name(phase);
}

QStringList WireFault::kindNames()
{
    QStringList names;
    for (const KindName& entry : KindNames)
        names.append(QLatin1String(entry.name));
    return names;
}

QStringList WireFault::phaseNames()
{
    return UpdatePhases::names();
}

bool WireFault::existsIn(Kind kind, Phase phase)
{
    if (phase == NoPhase)
        return false;
    const bool entryFault = kind == Kind::LostRequest || kind == Kind::CorruptRequest
        || kind == Kind::DuplicatedRequest || kind == Kind::SlowRestart;
    if ((phase == Phase::Entry) != entryFault)
        return false;
    const bool versionPhase = phase == Phase::Detection || phase == Phase::Reconnect;
    if (kind == Kind::ErrorStatus || kind == Kind::WrongEcho || kind == Kind::UnexpectedStatus)
        return !versionPhase;
    if (kind == Kind::JunkVersion)
        return versionPhase;
    if (kind == Kind::ImplausibleValue)
        return phase == Phase::Parameters;
    if (kind == Kind::BootloaderRestart)
        return phase == Phase::Restart;
    if (kind == Kind::ChecksumMismatch)
        return phase == Phase::Verify;
    return true;
}

WireFault WireFault::drawn(QRandomGenerator& random)
{
    const Kind kind = std::begin(KindNames)[random.bounded(int(std::size(KindNames)))].kind;
    QList<Phase> phases;
    for (const Phase phase : UpdatePhases::all()) {
        if (existsIn(kind, phase))
            phases.append(phase);
    }
    const Phase phase = phases.at(random.bounded(phases.size()));
    const auto drawn = std::find_if(std::begin(DrawnRequests), std::end(DrawnRequests),
                                    [phase](const PhaseRequests& entry) { return entry.phase == phase; });
    return WireFault(kind, phase, 1 + random.bounded(drawn->requests));
}

int WireFault::hostTimeoutMs(Phase phase)
{
    switch (phase) {
    case Phase::Erase:
        return Bootloader::EraseTimeoutMs;
    case Phase::Write:
        return Bootloader::WriteTimeoutMs;
    case Phase::Verify:
        return Bootloader::ChecksumTimeoutMs;
    default:
        return CommandHandlerInterface::DefaultTimeoutMs;
    }
}

quint32 WireFault::implausibleParameter(unsigned short type)
{
    switch (type) {
    case Bootloader::PageSizeParameter:
        return ImplausiblePageSize;
    case Bootloader::FlashBaseParameter:
        return ImplausibleFlashBase;
    default:
        return ImplausibleMemorySize;
    }
}

QByteArray WireFault::junkVersion()
{
    // Clear-screen, a bell, a carriage return and a title change, padded with NULs.
    QByteArray text("\x1b[2J\a\r\x1b]0;x\a1234V101");
    text.append(QByteArray(JunkVersionBytes - text.size(), '\0'));
    return text;
}

QByteArray WireFault::asReadAtWrongBaud(const QByteArray& bytes)
{
    QByteArray read;
    const double end = double(bytes.size()) * BitsPerFrame * WrongBaudFactor;
    bool sawIdle = false;
    for (double t = 0; t < end;) {
        if (lineHigh(bytes, t, WrongBaudFactor)) {
            sawIdle = true;
            t += 1.0 / SamplesPerBit;
            continue;
        }
        // A falling edge, or a low line the receiver had not seen go high since the last character.
        if (!sawIdle || lineHigh(bytes, t + 0.5, WrongBaudFactor)) {
            t += 1.0 / SamplesPerBit;
            continue;
        }
        quint8 byte = 0;
        for (int bit = 0; bit < DataBits; ++bit) {
            if (lineHigh(bytes, t + 1.5 + bit, WrongBaudFactor))
                byte |= quint8(1 << bit);
        }
        const bool framed = lineHigh(bytes, t + 1.5 + DataBits, WrongBaudFactor);
        read.append(framed ? char(byte) : FramingErrorByte);
        sawIdle = framed;
        t += 1.5 + DataBits;
    }
    return read;
}
