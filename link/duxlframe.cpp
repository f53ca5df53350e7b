#include "duxlframe.h"

#include "command.h"

#include <array>

namespace {

constexpr quint16 CrcPolynomial = 0x1021;
constexpr quint16 CrcInitialValue = 0xFFFF;

constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        quint16 crc = quint16(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ CrcPolynomial) : quint16(crc << 1);
        table[size_t(byte)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> CrcTable = makeCrcTable();

void appendBigEndian16(QByteArray& out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

void appendBigEndian32(QByteArray& out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

quint16 readBigEndian16(const char* data)
{
    return quint16((quint8(data[0]) << 8) | quint8(data[1]));
}

quint32 readBigEndian32(const char* data)
{
    return (quint32(quint8(data[0])) << 24) | (quint32(quint8(data[1])) << 16) | (quint32(quint8(data[2])) << 8)
        | quint32(quint8(data[3]));
}

// Wraps a payload into a frame: start byte, kind, length, payload, CRC.
QByteArray frame(DuxlFrame::Kind kind, const QByteArray& payload)
{
    QByteArray out;
    out.reserve(DuxlFrame::HeaderBytes + payload.size() + DuxlFrame::CrcBytes);
    out.append(char(DuxlFrame::StartOfFrame));
    out.append(char(kind));
    out.append(char(payload.size()));
    out.append(payload);
    appendBigEndian16(out, DuxlFrame::crc16(out.constData() + 1, out.size() - 1));
    return out;
}

}

quint16 DuxlFrame::crc16(const char* data, int size)
{
    quint16 crc = CrcInitialValue;
    for (int i = 0; i < size; ++i)
        crc = quint16((crc << 8) ^ CrcTable[size_t(((crc >> 8) ^ quint8(data[i])) & 0xFF)]);
    return crc;
}

QByteArray DuxlFrame::encodeCommandRequest(quint8 sequence, const Command& request, bool wantsReply)
{
    quint8 flags = 0;
    if (!wantsReply)
        flags |= FlagNoReply;
    if (request.isBroadcast())
        flags |= FlagBroadcast;
    QByteArray payload;
    payload.reserve(CommandRequestPayloadBytes);
    payload.append(char(sequence));
    payload.append(char(flags));
    payload.append(char(request.moduleAddress()));
    payload.append(char(request.replyAddress()));
    payload.append(char(request.command()));
    appendBigEndian16(payload, request.type());
    payload.append(char(request.motorBank()));
    appendBigEndian32(payload, quint32(request.value()));
    return frame(Kind::CommandRequest, payload);
}

QByteArray DuxlFrame::encodeCommandReply(quint8 sequence, quint8 moduleAddress, quint8 replyAddress, quint8 command,
                                         quint8 status, qint32 value)
{
    QByteArray payload;
    payload.reserve(CommandReplyPayloadBytes);
    payload.append(char(sequence));
    payload.append(char(moduleAddress));
    payload.append(char(replyAddress));
    payload.append(char(command));
    payload.append(char(status));
    appendBigEndian32(payload, quint32(value));
    return frame(Kind::CommandReply, payload);
}

QByteArray DuxlFrame::encodeVersionRequest(quint8 sequence, quint8 moduleAddress, quint8 replyAddress)
{
    QByteArray payload;
    payload.append(char(sequence));
    payload.append(char(moduleAddress));
    payload.append(char(replyAddress));
    return frame(Kind::VersionRequest, payload);
}

QByteArray DuxlFrame::encodeVersionReply(quint8 sequence, quint8 moduleAddress, quint8 replyAddress,
                                         const QString& text)
{
    QByteArray payload;
    payload.append(char(sequence));
    payload.append(char(moduleAddress));
    payload.append(char(replyAddress));
    payload.append(text.left(MaxVersionTextBytes).toLatin1());
    return frame(Kind::VersionReply, payload);
}

bool DuxlFrame::isPlausibleHeader(quint8 kind, quint8 payloadLength)
{
    switch (Kind(kind)) {
    case Kind::CommandRequest:
        return payloadLength == CommandRequestPayloadBytes;
    case Kind::CommandReply:
        return payloadLength == CommandReplyPayloadBytes;
    case Kind::VersionRequest:
        return payloadLength == VersionRequestPayloadBytes;
    case Kind::VersionReply:
        return payloadLength >= VersionReplyFixedBytes
            && payloadLength <= VersionReplyFixedBytes + MaxVersionTextBytes;
    }
    return false;
}

DuxlFrame DuxlFrame::fromPayload(Kind kind, const char* payload, int payloadLength)
{
    DuxlFrame f;
    f.m_kind = kind;
    f.m_sequence = quint8(payload[0]);
    switch (kind) {
    case Kind::CommandRequest:
        f.m_flags = quint8(payload[1]);
        f.m_moduleAddress = quint8(payload[2]);
        f.m_replyAddress = quint8(payload[3]);
        f.m_command = quint8(payload[4]);
        f.m_type = readBigEndian16(payload + 5);
        f.m_motorBank = quint8(payload[7]);
        f.m_value = qint32(readBigEndian32(payload + 8));
        break;
    case Kind::CommandReply:
        f.m_moduleAddress = quint8(payload[1]);
        f.m_replyAddress = quint8(payload[2]);
        f.m_command = quint8(payload[3]);
        f.m_status = quint8(payload[4]);
        f.m_value = qint32(readBigEndian32(payload + 5));
        break;
    case Kind::VersionRequest:
        f.m_moduleAddress = quint8(payload[1]);
        f.m_replyAddress = quint8(payload[2]);
        break;
    case Kind::VersionReply:
        f.m_moduleAddress = quint8(payload[1]);
        f.m_replyAddress = quint8(payload[2]);
        f.m_text = QString::fromLatin1(payload + VersionReplyFixedBytes, payloadLength - VersionReplyFixedBytes);
        break;
    }
    return f;
}

Command DuxlFrame::toCommand() const
{
    return Command(m_moduleAddress, m_command, m_type, m_motorBank, m_value, (m_flags & FlagBroadcast) != 0,
                   m_replyAddress);
}
