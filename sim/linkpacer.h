#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>

// Times bytes as a UART at a given data rate would move them (8N1: 10 bits per byte), so that a
// pseudo-terminal, which moves any number of bytes at once, behaves like a real link of that rate.
// Input and output are timed separately, as on a full-duplex line.
class LinkPacer
{
public:
    // Writes some bytes to the link; false when the link failed.
    using Writer = std::function<bool(const QByteArray&)>;

    // 0: not paced, bytes pass at once.
    void setRate(int bitsPerSecond);
    int rate() const { return m_rate; }

    // Notes that `bytes` bytes were read just now.
    void noteReceived(int bytes);
    // Waits until the frame that ends `bytesAfterFrame` bytes before the last byte read has arrived.
    void waitForFrame(int bytesAfterFrame);
    // Hands `bytes` to `write` at the moments their stop bits end on the wire, in chunks of about a
    // millisecond; returns when the last byte is out. A reply starts when the frame it answers ended
    // plus the time the module worked on it, not later because this process woke up late.
    bool send(const QByteArray& bytes, const Writer& write);

    static qint64 nowNs();
    static void sleepUntilNs(qint64 deadlineNs);

private:
    qint64 byteNs() const;

    int m_rate = 0;
    qint64 m_inputEndNs = 0;
    qint64 m_outputEndNs = 0;
    // End of the last frame on the line, and when waitForFrame() returned after it.
    qint64 m_frameEndNs = 0;
    qint64 m_frameSeenNs = 0;
};
