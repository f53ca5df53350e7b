#include "capturerecord.h"

#include <QtEndian>

QByteArray CaptureRecord::toPacket() const
{
    const QByteArray name = port.toUtf8().left(MaxPortNameBytes);
    QByteArray packet;
    packet.reserve(FixedHeaderBytes + name.size() + payload.size());
    packet.append(char(event));
    packet.append(char(direction));
    packet.append(char(name.size()));
    packet.append(name);
    packet.append(payload);
    return packet;
}

bool CaptureRecord::fromPacket(const QByteArray& packet, qint64 timestampUs, CaptureRecord* record)
{
    if (packet.size() < FixedHeaderBytes)
        return false;
    const quint8 event = quint8(packet.at(0));
    const quint8 direction = quint8(packet.at(1));
    const int nameBytes = quint8(packet.at(2));
    if (event > HighestEvent || direction > quint8(Direction::ModuleToHost)
        || packet.size() < FixedHeaderBytes + nameBytes)
        return false;
    record->timestampUs = timestampUs;
    record->event = Event(event);
    record->direction = Direction(direction);
    record->port = QString::fromUtf8(packet.mid(FixedHeaderBytes, nameBytes));
    record->payload = packet.mid(FixedHeaderBytes + nameBytes);
    return true;
}

int CaptureRecord::dataRate() const
{
    if (payload.size() < RateBytes)
        return 0;
    return int(qFromBigEndian<quint32>(payload.constData()));
}

QByteArray CaptureRecord::ratePayload(int rate)
{
    QByteArray bytes(RateBytes, '\0');
    qToBigEndian<quint32>(quint32(rate), bytes.data());
    return bytes;
}
