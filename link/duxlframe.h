#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class Command;

// One DUXL frame on a serial link: a request of the host or a reply of a module, with its encoders.
// The byte layout is documented in docs/protocol.md; a frame is
//   0xD7, kind, payload length, payload, CRC-16 (big-endian) over kind, length and payload.
class DuxlFrame
{
public:
    // Bit 7 of the kind tells the direction: clear from the host, set from a module.
    enum class Kind : quint8 {
        CommandRequest = 0x01,
        VersionRequest = 0x02,
        CommandReply = 0x81,
        VersionReply = 0x82,
    };

    // Bits of the request flags byte.
    static constexpr quint8 FlagNoReply = 0x01;   // the module executes the command and stays silent
    static constexpr quint8 FlagBroadcast = 0x02; // every module on the link executes it

    static constexpr quint8 StartOfFrame = 0xD7;
    static constexpr int HeaderBytes = 3;
    static constexpr int CrcBytes = 2;
    static constexpr int CommandRequestPayloadBytes = 12;
    static constexpr int CommandReplyPayloadBytes = 9;
    static constexpr int VersionRequestPayloadBytes = 3;
    // Sequence, module address and reply address come before the text of a version reply.
    static constexpr int VersionReplyFixedBytes = 3;
    static constexpr int MaxVersionTextBytes = 32;
    static constexpr int MaxFrameBytes = HeaderBytes + VersionReplyFixedBytes + MaxVersionTextBytes + CrcBytes;

    static QByteArray encodeCommandRequest(quint8 sequence, const Command& request, bool wantsReply);
    static QByteArray encodeCommandReply(quint8 sequence, quint8 moduleAddress, quint8 replyAddress, quint8 command,
                                         quint8 status, qint32 value);
    static QByteArray encodeVersionRequest(quint8 sequence, quint8 moduleAddress, quint8 replyAddress);
    // Text beyond MaxVersionTextBytes is cut; characters outside Latin-1 become '?'.
    static QByteArray encodeVersionReply(quint8 sequence, quint8 moduleAddress, quint8 replyAddress,
                                         const QString& text);

    // CRC-16/CCITT-FALSE (polynomial 0x1021, initial value 0xFFFF, no reflection).
    static quint16 crc16(const char* data, int size);
    // The payload length a frame of `kind` may carry; false for kinds this protocol does not know.
    static bool isPlausibleHeader(quint8 kind, quint8 payloadLength);
    // Reads a complete frame whose header is plausible and whose CRC has been checked.
    static DuxlFrame fromPayload(Kind kind, const char* payload, int payloadLength);

    Kind kind() const { return m_kind; }
    quint8 sequence() const { return m_sequence; }
    quint8 flags() const { return m_flags; }
    quint8 moduleAddress() const { return m_moduleAddress; }
    quint8 replyAddress() const { return m_replyAddress; }
    quint8 command() const { return m_command; }
    quint16 type() const { return m_type; }
    quint8 motorBank() const { return m_motorBank; }
    qint32 value() const { return m_value; }
    quint8 status() const { return m_status; }
    QString text() const { return m_text; }

    bool wantsReply() const { return !(m_flags & FlagNoReply) && !(m_flags & FlagBroadcast); }
    // A command request as the host's record (for the module side).
    Command toCommand() const;

private:
    Kind m_kind = Kind::CommandRequest;
    quint8 m_sequence = 0;
    quint8 m_flags = 0;
    quint8 m_moduleAddress = 0;
    quint8 m_replyAddress = 0;
    quint8 m_command = 0;
    quint16 m_type = 0;
    quint8 m_motorBank = 0;
    qint32 m_value = 0;
    quint8 m_status = 0;
    QString m_text;
};
