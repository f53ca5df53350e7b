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

// Bits 7-5 of the control byte: the kind, with a command request's flags folded in. Code 6 (and so
// the start byte 0xD7) is not a frame; code 7 is one only with sequence 0, the window frame.
constexpr int CodeShift = 5;
enum Code : quint8 {
    CommandRequestCode = quint8(DuxlFrame::Kind::CommandRequest),
    NoReplyRequestCode = 1,
    BroadcastRequestCode = 2,
    VersionRequestCode = quint8(DuxlFrame::Kind::VersionRequest),
    CommandReplyCode = quint8(DuxlFrame::Kind::CommandReply),
    VersionReplyCode = quint8(DuxlFrame::Kind::VersionReply),
    WindowCode = quint8(DuxlFrame::Kind::Window),
};
constexpr int VersionLengthOffset = DuxlFrame::HeaderBytes;
constexpr int ControlByteOffset = 1;

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

// Wraps a body into a frame: start byte, control byte, body, CRC.
QByteArray frame(Code code, quint8 sequence, const QByteArray& body)
{
    QByteArray out;
    out.reserve(DuxlFrame::HeaderBytes + body.size() + DuxlFrame::CrcBytes);
    out.append(char(DuxlFrame::StartOfFrame));
    out.append(char((code << CodeShift) | (sequence & DuxlFrame::SequenceMask)));
    out.append(body);
    appendBigEndian16(out, DuxlFrame::crc16(out.constData() + ControlByteOffset, out.size() - ControlByteOffset));
    return out;
}

}

quint8 DuxlFrame::sequenceOf(const QByteArray& frame)
{
    return quint8(frame.at(ControlByteOffset)) & SequenceMask;
}

QByteArray DuxlFrame::withSequence(QByteArray frame, quint8 sequence)
{
    frame[ControlByteOffset] = char((quint8(frame.at(ControlByteOffset)) & ~SequenceMask) | (sequence & SequenceMask));
    const int crcAt = frame.size() - CrcBytes;
    frame.chop(CrcBytes);
    appendBigEndian16(frame, crc16(frame.constData() + ControlByteOffset, crcAt - ControlByteOffset));
    return frame;
}

QByteArray DuxlFrame::withSpoiledCrc(QByteArray frame)
{
    const int lastAt = frame.size() - 1;
    frame[lastAt] = char(frame.at(lastAt) ^ 0xFF);
    return frame;
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
    const Code code = request.isBroadcast() ? BroadcastRequestCode : wantsReply ? CommandRequestCode : NoReplyRequestCode;
    QByteArray body;
    body.reserve(CommandRequestBodyBytes);
    body.append(char(request.moduleAddress()));
    body.append(char(request.command()));
    appendBigEndian16(body, request.type());
    body.append(char(request.motorBank()));
    appendBigEndian32(body, quint32(request.value()));
    return frame(code, sequence, body);
}

QByteArray DuxlFrame::encodeCommandReply(quint8 sequence, quint8 command, quint8 status, qint32 value)
{
    QByteArray body;
    body.reserve(CommandReplyBodyBytes);
    body.append(char(command));
    body.append(char(status));
    appendBigEndian32(body, quint32(value));
    return frame(CommandReplyCode, sequence, body);
}

QByteArray DuxlFrame::encodeVersionRequest(quint8 sequence, quint8 moduleAddress)
{
    return frame(VersionRequestCode, sequence, QByteArray(1, char(moduleAddress)));
}

QByteArray DuxlFrame::encodeVersionReply(quint8 sequence, const QString& text)
{
    const QByteArray latin1 = text.left(MaxVersionTextBytes).toLatin1();
    return frame(VersionReplyCode, sequence, char(latin1.size()) + latin1);
}

QByteArray DuxlFrame::encodeWindow(quint8 window)
{
    return frame(WindowCode, 0, QByteArray(1, char(window)));
}

int DuxlFrame::frameLength(const char* head, int available)
{
    if (available < HeaderBytes)
        return -1;
    switch (quint8(head[1]) >> CodeShift) {
    case CommandRequestCode:
    case NoReplyRequestCode:
    case BroadcastRequestCode:
        return HeaderBytes + CommandRequestBodyBytes + CrcBytes;
    case VersionRequestCode:
        return HeaderBytes + VersionRequestBodyBytes + CrcBytes;
    case CommandReplyCode:
        return HeaderBytes + CommandReplyBodyBytes + CrcBytes;
    case VersionReplyCode: {
        if (available <= VersionLengthOffset)
            return -1;
        const int textBytes = quint8(head[VersionLengthOffset]);
        return textBytes <= MaxVersionTextBytes ? HeaderBytes + 1 + textBytes + CrcBytes : 0;
    }
    case WindowCode:
        return quint8(head[1]) == WindowControlByte ? HeaderBytes + WindowBodyBytes + CrcBytes : 0;
    default:
        return 0;
    }
}

DuxlFrame DuxlFrame::fromBytes(const char* frame, int length)
{
    DuxlFrame f;
    const quint8 code = quint8(frame[1]) >> CodeShift;
    f.m_sequence = quint8(frame[1]) & SequenceMask;
    const char* body = frame + HeaderBytes;
    switch (code) {
    case CommandRequestCode:
    case NoReplyRequestCode:
    case BroadcastRequestCode:
        f.m_kind = Kind::CommandRequest;
        f.m_flags = code == BroadcastRequestCode ? FlagBroadcast : code == NoReplyRequestCode ? FlagNoReply : 0;
        f.m_moduleAddress = quint8(body[0]);
        f.m_command = quint8(body[1]);
        f.m_type = readBigEndian16(body + 2);
        f.m_motorBank = quint8(body[4]);
        f.m_value = qint32(readBigEndian32(body + 5));
        break;
    case VersionRequestCode:
        f.m_kind = Kind::VersionRequest;
        f.m_moduleAddress = quint8(body[0]);
        break;
    case CommandReplyCode:
        f.m_kind = Kind::CommandReply;
        f.m_command = quint8(body[0]);
        f.m_status = quint8(body[1]);
        f.m_value = qint32(readBigEndian32(body + 2));
        break;
    case VersionReplyCode:
        f.m_kind = Kind::VersionReply;
        f.m_text = QString::fromLatin1(body + 1, length - HeaderBytes - 1 - CrcBytes);
        break;
    case WindowCode:
        f.m_kind = Kind::Window;
        f.m_value = quint8(body[0]);
        break;
    default:
        break;
    }
    return f;
}

Command DuxlFrame::toCommand() const
{
    return Command(m_moduleAddress, m_command, m_type, m_motorBank, m_value, (m_flags & FlagBroadcast) != 0,
                   HostAddress);
}
