#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One packet of a wire capture (docs/capture.md): what happened on which port, when, with its bytes.
// On disk each packet is a small pseudo-header (event, direction, port name) before the payload.
struct CaptureRecord
{
    enum class Event : quint8 {
        Data = 0,     // bytes that crossed the line
        Open = 1,     // the port opened; payload: its data rate
        Close = 2,    // the port closed; no payload
        DataRate = 3, // the open port's data rate changed; payload: the new rate
        Module = 4,   // a module answered on the port; payload: its key
    };
    enum class Direction : quint8 { HostToModule = 0, ModuleToHost = 1 };

    // Event, direction and the port name's length, one byte each.
    static constexpr int FixedHeaderBytes = 3;
    static constexpr int MaxPortNameBytes = 255;
    static constexpr int RateBytes = 4;
    static constexpr quint8 HighestEvent = quint8(Event::Module);

    qint64 timestampUs = 0;
    Event event = Event::Data;
    Direction direction = Direction::HostToModule;
    QString port;
    QByteArray payload;

    // The packet as it is written: pseudo-header and payload.
    QByteArray toPacket() const;
    // Reads a packet; false when it is not one of ours (too short, an unknown event or direction).
    static bool fromPacket(const QByteArray& packet, qint64 timestampUs, CaptureRecord* record);
    // The data rate of an Open or DataRate record, big-endian on disk.
    int dataRate() const;
    static QByteArray ratePayload(int rate);
};
