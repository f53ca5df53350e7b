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
    // Reads what has arrived on the link.
    using Reader = std::function<void()>;

    // What the pacing saw, summed over the replies it sent.
    struct Account
    {
        qint64 replies = 0;
        // From a reply's last write to the next read, when the host answered at once (not after one
        // of its pauses): its turn, both trips through the pseudo-terminal, this process waking up.
        qint64 turnarounds = 0;
        qint64 turnaroundNs = 0;
        // How much later than their stop bits the replies' last bytes were written.
        qint64 latenessNs = 0;
    };

    // 0: not paced, bytes pass at once.
    void setRate(int bitsPerSecond);
    int rate() const { return m_rate; }
    // While send() waits for the line, input on `descriptor` is read by `read` as soon as it arrives,
    // as a UART receives while it transmits: a request's line time then starts when it came, not when
    // the reply under way was done. -1: the waits only sleep.
    void watchInput(int descriptor, Reader read);

    // Notes that `bytes` bytes were read by a read that started at `readNs`.
    void noteReceived(int bytes, qint64 readNs);
    // The module takes the frame that ends `bytesAfterFrame` bytes before the last byte read, at once:
    // its reply waits in send() for the rest of the frame's line time as well as its own. Waking up
    // at the frame's end first would cost a wake-up per request and gain nothing.
    void takeFrame(int bytesAfterFrame);
    // Hands `bytes` to `write` at the moments their stop bits end on the wire, in chunks of about a
    // millisecond; returns when the last byte is out. A reply starts when the frame it answers ended
    // plus the time the module worked on it.
    bool send(const QByteArray& bytes, const Writer& write);
    // Sends `bytes` that answer no frame (a repeated reply): from `atNs`, or once the line is free.
    bool sendAt(qint64 atNs, const QByteArray& bytes, const Writer& write);

    const Account& account() const { return m_account; }

    static qint64 nowNs();
    static void sleepUntilNs(qint64 deadlineNs);

private:
    qint64 byteNs() const;
    // Sleeps until shortly before `deadlineNs` and spins the rest: a timer here wakes tens of
    // microseconds late, and every reply would reach the host that much after its stop bit.
    void waitUntilNs(qint64 deadlineNs);
    // Sleeps until `deadlineNs`, reading the watched input whenever some arrives.
    void sleepReadingUntilNs(qint64 deadlineNs);

    int m_rate = 0;
    qint64 m_inputEndNs = 0;
    qint64 m_outputEndNs = 0;
    // End of the last frame taken on the line, and when the module took it.
    qint64 m_frameEndNs = 0;
    qint64 m_frameTakenNs = 0;
    // How early waitUntilNs() sets its timer: follows how late the timer wakes.
    qint64 m_wakeMarginNs = 0;
    qint64 m_lastWriteNs = 0;
    int m_inputDescriptor = -1;
    Reader m_readInput;
    Account m_account;
};
