#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "updatephase.h"
class QRandomGenerator;

// One fault on the wire between host and module, set off by one request of one phase of an update:
// what goes wrong ("lost-reply"), in which phase ("write") and at which request of that phase.
class WireFault
{
public:
    enum class Kind {
        LostReply,        // carried out, the reply never leaves
        CorruptFrame,     // carried out, the reply leaves with a broken CRC
        DuplicatedReply,  // carried out, the reply leaves twice
        StaleReply,       // carried out; the reply to the request before leaves again ahead of its reply
        LateReply,        // carried out, the reply leaves just after the host's time-out for this phase
        Stall,            // neither this nor any later request is carried out or answered until a power cycle
        PortVanishes,     // not carried out; the port goes away until a power cycle brings it back
        PortRenamed,      // not carried out; the port goes away and comes back under the next name
        WrongBaud,        // carried out; the reply leaves as bytes sent at half the host's data rate
        ErrorStatus,      // not carried out; the reply says "value refused" (status 4)
        ChecksumMismatch, // verify only: the reported flash sum is one off
        LateDuplicate,    // carried out; the reply leaves, and a copy of it LateDuplicateMs later
        EarlyReply,       // carried out; the reply leaves, then one with the next sequence number before it is asked
        WrongEcho,        // carried out; the reply echoes another command number
        UnexpectedStatus, // carried out; the reply's status is neither "done" nor any status the bootloader uses
        ImplausibleValue, // parameters only: the value read is one no module can have
        JunkVersion,      // version requests only: the text is control characters and NULs, 32 bytes
        Unsolicited,      // carried out; replies no request asked for follow the reply
        BootloaderRestart, // restart only: the module restarts into its bootloader instead of its firmware
        // The bootloader-entry command, which gets no reply:
        LostRequest,       // never reaches the module
        CorruptRequest,    // reaches it with a broken CRC, so that the module drops it
        DuplicatedRequest, // reaches it twice
        SlowRestart,       // carried out, but the module is silent for SlowRestartMs before its bootloader runs
    };

    // The update as the module sees it on the wire (see UpdatePhaseTracker): the entry is command 242,
    // the parameters 206, the erase 200, the write 201 and 202 before the checksum was read, the verify
    // 203, the store 208 and 201/202 after the checksum was read, the restart 205; detection and
    // reconnection are version requests answered by the bootloader and by the restarted firmware.
    using Phase = UpdatePhase;
    // A request that is not part of an update: discovery, selection.
    static constexpr Phase NoPhase = Phase(-1);

    // How much later than the host's time-out a late reply leaves (the host starts its clock
    // before the request reaches the module).
    static constexpr int LateMarginMs = 200;
    // A renamed port stays away longer than the update retries a word (10 tries, 250 ms apart).
    static constexpr int RenamedPortAbsenceMs = 3000;
    // A slow module restarts into its bootloader well after the tool looks again (5 s scaled by the
    // matrix's time scale), yet before a watching user would give up.
    static constexpr int SlowRestartMs = 1500;
    // How many times longer a bit lasts on the module's side when the rates do not match.
    static constexpr int WrongBaudFactor = 2;
    // A late duplicate follows its reply after this long: well after the host took the reply and
    // usually while it waits for the next one, or idles.
    static constexpr int LateDuplicateMs = 5;
    // What a wrong echo adds to the request's command number.
    static constexpr int WrongEchoOffset = 1;
    // A status no bootloader of ours sends (100 is "done", 2 and 4 are errors).
    static constexpr unsigned char UnexpectedStatusCode = 7;
    // How many unsolicited replies follow, and their sequence numbers' distance from the request's.
    static constexpr int UnsolicitedReplies = 3;
    static constexpr int UnsolicitedSequenceStep = 9;

    WireFault() = default;
    WireFault(Kind kind, Phase phase, int nth = 1);

    Kind kind() const { return m_kind; }
    Phase phase() const { return m_phase; }
    // Which request of the phase sets it off, counted from 1; EveryRequest: each of them.
    int nth() const { return m_nth; }
    bool everyRequest() const { return m_nth == EveryRequest; }
    static constexpr int EveryRequest = 0;

    // "KIND@PHASE[:NTH]", e.g. "lost-reply@write:3", NTH "*" for every request; false (and `error` set) when it cannot be read or
    // the kind does not exist in that phase.
    static bool parse(const QString& text, WireFault* fault, QString* error);
    QString toString() const;
    static QString kindName(Kind kind);
    static QString phaseName(Phase phase);
    static QStringList kindNames();
    static QStringList phaseNames();
    // Version requests have no status byte, only the checksum can be off by one, and the entry command
    // has faults of its own, since it gets no reply.
    static bool existsIn(Kind kind, Phase phase);

    // A fault drawn at random: any kind, any phase where it exists, one of the requests a clean
    // update makes there (in the write phase one of its first words).
    static WireFault drawn(QRandomGenerator& random);

    // The reply time-out the update asks of the host's link in this phase.
    static int hostTimeoutMs(Phase phase);
    // The bytes a receiver at some data rate reads when `bytes` are sent at 1/WrongBaudFactor of it
    // (8N1 both sides, sampled in the middle of each bit, framing errors read as the byte sampled).
    static QByteArray asReadAtWrongBaud(const QByteArray& bytes);
    // What an implausible-value fault answers for the parameter of `type` (206's type field).
    static quint32 implausibleParameter(unsigned short type);
    // The version text of a junk-version fault.
    static QByteArray junkVersion();

private:
    Kind m_kind = Kind::LostReply;
    Phase m_phase = NoPhase;
    int m_nth = 1;
};
