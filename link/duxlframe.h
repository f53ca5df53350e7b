#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class Command;

// One DUXL frame on a serial link: a request of the host or a reply of a module, with its encoders.
// The byte layout is documented in docs/protocol.md; a frame is
//   0xD7, control byte (kind and flags in bits 7-5, sequence in bits 4-0), body, CRC-16 (big-endian)
// over the control byte and the body. Only a version reply carries a length: every other kind fixes it.
class DuxlFrame
{
public:
    // A kind's value is its control-byte code without flags; bit 2 of the code tells the direction
    // (clear from the host, set from a module).
    enum class Kind : quint8 {
        CommandRequest = 0,
        VersionRequest = 3,
        CommandReply = 4,
        VersionReply = 5,
        // Both directions: the host's window question and the module's answer.
        Window = 7,
    };

    // Flags of a command request; on the wire each combination is a code of its own.
    static constexpr quint8 FlagNoReply = 0x01;   // the module executes the command and stays silent
    static constexpr quint8 FlagBroadcast = 0x02; // every module on the link executes it, none answers

    static constexpr quint8 StartOfFrame = 0xD7;
    static constexpr quint8 SequenceMask = 0x1F;
    // A serial link has one host; its bus address is what every request's reply address is taken to be.
    static constexpr quint8 HostAddress = 12;
    static constexpr int CrcBytes = 2;
    // Start byte and control byte.
    static constexpr int HeaderBytes = 2;
    static constexpr int CommandRequestBodyBytes = 9;
    static constexpr int CommandReplyBodyBytes = 6;
    static constexpr int VersionRequestBodyBytes = 1;
    static constexpr int WindowBodyBytes = 1;
    // A window frame's only control byte: code 7, sequence 0.
    static constexpr quint8 WindowControlByte = 0xE0;
    static constexpr int MaxVersionTextBytes = 32;
    // The text length byte comes before the text of a version reply.
    static constexpr int MaxFrameBytes = HeaderBytes + 1 + MaxVersionTextBytes + CrcBytes;

    // The sequence number after `sequence`, as it fits the control byte.
    static quint8 nextSequence(quint8 sequence) { return quint8((sequence + 1) & SequenceMask); }

    // The request's reply address is not sent: it is always HostAddress on a serial link.
    static QByteArray encodeCommandRequest(quint8 sequence, const Command& request, bool wantsReply);
    static QByteArray encodeCommandReply(quint8 sequence, quint8 command, quint8 status, qint32 value);
    static QByteArray encodeVersionRequest(quint8 sequence, quint8 moduleAddress);
    // Text beyond MaxVersionTextBytes is cut; characters outside Latin-1 become '?'.
    static QByteArray encodeVersionReply(quint8 sequence, const QString& text);
    // The window question or answer: the most command requests its sender keeps or takes in flight.
    static QByteArray encodeWindow(quint8 window);

    // The sequence number a whole frame carries.
    static quint8 sequenceOf(const QByteArray& frame);
    // A whole `frame` as it reads carrying `sequence` instead, its CRC made good again.
    static QByteArray withSequence(QByteArray frame, quint8 sequence);
    // A whole `frame` whose CRC no longer fits it: it reads back corrupt.
    static QByteArray withSpoiledCrc(QByteArray frame);

    // CRC-16/CCITT-FALSE (polynomial 0x1021, initial value 0xFFFF, no reflection).
    static quint16 crc16(const char* data, int size);
    // The length of the frame that starts with the start byte at `head`, of which `available` bytes
    // are at hand: 0 when these bytes cannot begin a frame, -1 when more are needed to tell.
    static int frameLength(const char* head, int available);
    // Reads a complete frame of `length` bytes whose CRC has been checked.
    static DuxlFrame fromBytes(const char* frame, int length);

    Kind kind() const { return m_kind; }
    quint8 sequence() const { return m_sequence; }
    quint8 flags() const { return m_flags; }
    // The addressed module of a request; replies do not carry it (one request is in flight).
    quint8 moduleAddress() const { return m_moduleAddress; }
    quint8 command() const { return m_command; }
    quint16 type() const { return m_type; }
    quint8 motorBank() const { return m_motorBank; }
    qint32 value() const { return m_value; }
    quint8 status() const { return m_status; }
    QString text() const { return m_text; }
    // The window a window frame states.
    quint8 window() const { return quint8(m_value); }

    bool wantsReply() const { return !(m_flags & FlagNoReply) && !(m_flags & FlagBroadcast); }
    // A command request as the host's record (for the module side).
    Command toCommand() const;

private:
    Kind m_kind = Kind::CommandRequest;
    quint8 m_sequence = 0;
    quint8 m_flags = 0;
    quint8 m_moduleAddress = 0;
    quint8 m_command = 0;
    quint16 m_type = 0;
    quint8 m_motorBank = 0;
    qint32 m_value = 0;
    quint8 m_status = 0;
    QString m_text;
};
