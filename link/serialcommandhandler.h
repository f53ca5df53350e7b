#pragma once

#include "commandhandlerinterface.h"
#include "duxlframe.h"
#include "duxlframedecoder.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>

class WireCapture;
class WordWindow;

// Keeps the serial link of one port and turns DUXL requests into frames: it writes a request and waits
// for the reply frame that carries the request's sequence number.
class SerialCommandHandler : public CommandHandlerInterface
{
    Q_OBJECT
public:
    // How long `bytes` take on a line of `dataRate` bits per second (8N1: ten bits a byte).
    static qint64 lineNsAt(qint64 bytes, int dataRate);
    static constexpr int DefaultDataRate = 115200;

    // `linkKind` (DUXLConnectionInterface::LinkKind) names the handler as LinkKindRules tell. The device
    // starts closed.
    SerialCommandHandler(const QSerialPortInfo& port, int linkKind, QObject* parent = nullptr);
    ~SerialCommandHandler() override;

    bool isDeviceOpen() const override;
    bool openDevice() override;
    void closeDevice() override;
    int dataRate() const override;
    bool setDataRate(int rate) override;
    QString getFirmwareVersion(unsigned char moduleAddress) override;
    void doDirectRequest(Command* request, Command* reply) override;
    void doDirectRequestWithoutReply(Command* request) override;
    // Asks the module once per opening of the port, unless the window limit is 1.
    int requestWindow() override;
    void abandonWindowedRequests() override;
    // With a window above 1 it returns at once and carries the window on from the port's read
    // notifications and a reply timer; with window 1 the words go one request at a time.
    void startWindowedRequests(const QVector<Command*>& requests, const QVector<Command*>& replies,
                               std::function<void(int carriedOut)> done) override;

    // While a request waits for its reply, the thread's events run in a nested loop: requests of
    // other links (modules updated at once, each by its own tool) go out meanwhile instead of queuing
    // behind this one. Off by default: the wait then blocks the thread but for the erase.
    void setWaitInEventLoop(bool wait);
    // Every byte of the port, its opening, closing and data rate go to `capture` from now on (it
    // outlives the handler); null: nowhere.
    void setWireCapture(WireCapture* capture);

    QString portName() const { return m_port.portName(); }
    // Why the port could not be opened or take a data rate, or why it went away; a request's failure is
    // requestFailure()'s.
    QString errorString() const { return m_errorString; }
    // Bytes that arrived while no request waited for them, dropped unread since construction.
    qint64 unsolicitedBytes() const { return m_unsolicitedBytes; }
    // Whole replies skipped while a request waited because their sequence number was not its own (late
    // copies, replies ahead of their request or to none), since construction.
    qint64 droppedReplies() const { return m_droppedReplies; }

private:
    static constexpr int NoCommand = -1;

    // How long a wait for a frame may still take; a frame seen may bring its end closer.
    class ReplyDeadline
    {
    public:
        explicit ReplyDeadline(qint64 ms) : m_ms(ms) { m_clock.start(); }
        // Ends the wait `graceMs` from now, unless it ends sooner anyway.
        void shortenTo(qint64 graceMs) { m_ms = qMin(m_ms, m_clock.elapsed() + graceMs); }
        qint64 remainingMs() const { return m_ms - m_clock.elapsed(); }

    private:
        QElapsedTimer m_clock;
        qint64 m_ms;
    };
    enum class Awaited { Taken, TimedOut, PortGone };
    // Sees each frame (or corrupt one) the decoder gives; true takes it and ends the wait.
    using FrameTaker = std::function<bool(DuxlFrameDecoder::Result, const DuxlFrame&, ReplyDeadline&)>;

    // Reads what arrived while the link is idle and drops it, so that a module that chatters (or a
    // device that is no module) cannot make the port's read buffer grow.
    void handleReadyRead();
    // Drops whatever is buffered now, in bounded pieces, and counts it; reports it at most every few
    // seconds, with the bytes dropped since the last report.
    void dropPendingBytes();
    // Takes the exclusive advisory lock on the open device; false when another opener holds it.
    bool lockDevice();
    // Closes the open port and notes it in the capture.
    void closeSerial();
    // Asks the driver to pass received bytes on at once, where it can.
    void requestLowLatency();
    // Sends `frame` to `moduleAddress` and waits for the reply of `replyKind` that echoes `sequence` (and,
    // for a command, `command`: a reply echoing another command is taken only when no other comes).
    bool exchange(const QByteArray& frame, DuxlFrame::Kind replyKind, quint8 sequence, quint8 moduleAddress,
                  DuxlFrame* reply, int command = NoCommand);
    // The one receive loop of every request that waits: hands each frame to `take` until it takes one, the
    // wait runs out (`timeoutMs`, or sooner if `take` shortens it) or the port goes.
    Awaited awaitFrame(int timeoutMs, const FrameTaker& take);
    bool send(const QByteArray& frame);
    void noteSent(const QByteArray& frame) const;
    bool writeOut(const QByteArray& bytes);
    // The window the module answers the window question with; 1 when it does not answer.
    int askWindow();
    // Starts a request or a window of them: false (and the failure noted) when the port is closed or busy;
    // else drops what arrived before it.
    bool beginExchange();
    // Sends what the window lets out now and takes the replies the decoder holds.
    void advanceWindow(WordWindow& words, const QElapsedTimer& clock);
    // Takes the replies the decoder holds; true when one carried its request out.
    bool takeReplies(WordWindow& words);
    // Notes why a window stopped; true when replies of it may still be on their way.
    bool endWindow(const WordWindow& words);
    // Carries the window that does not hold the thread on, as far as the bytes that came let it.
    void stepWindow();
    void finishWindow();
    // Takes every whole frame the decoder holds and tells how many were command replies.
    int countReplies();
    // How long the replies of `due` requests in flight may still take.
    qint64 collectGraceMs(int due) const;
    void traceReply(const DuxlFrame& reply) const;
    // Waits up to `timeoutMs` for bytes and hands them to the decoder; false once the port is gone. Waits
    // in one of three ways: among other links, keeping the events running, or holding the thread (else).
    bool receive(int timeoutMs);
    // Several modules at once (setWaitInEventLoop): runs the thread's events meanwhile unless a nested
    // wait's reply is due (see NestedReplyWait), then waits for this port's bytes alone, so that it can return.
    void waitAmongOtherLinks(int timeoutMs);
    // setForceProcessEvents (the erase): runs the events, then waits a short slice for bytes.
    void waitKeepingEventsRunning(int timeoutMs);
    void readIntoDecoder();
    bool acceptsReply(const DuxlFrame& frame, DuxlFrame::Kind replyKind, quint8 sequence) const;
    // How long `bytes` take on the line at the present data rate.
    qint64 lineNs(int bytes) const;
    static int leastReplyBytes(DuxlFrame::Kind replyKind);
    // How long to wait for a good frame after a corrupt one, at the present data rate.
    int corruptGraceMs() const;
    void handleSerialError(QSerialPort::SerialPortError error);
    // The terminal hung up or reports an error, or its device node is gone.
    bool deviceGone() const;

    QSerialPortInfo m_port;
    const int m_linkKind;
    QSerialPort m_serial;
    DuxlFrameDecoder m_decoder;
    std::atomic<bool> m_open{false};
    int m_dataRate = DefaultDataRate;
    quint8 m_sequence = 0;
    // The module's answer to the window question since the port opened; 0: not asked yet.
    int m_window = 0;
    // A request waits with events processed; another one arriving meanwhile is refused.
    bool m_busy = false;
    bool m_waitInEventLoop = false;
    QString m_errorString;
    qint64 m_unsolicitedBytes = 0;
    qint64 m_droppedReplies = 0;
    qint64 m_unreportedBytes = 0;
    QElapsedTimer m_sinceReport;
    // The window under way without holding the thread, and whom to tell how it ended.
    std::unique_ptr<WordWindow> m_words;
    std::function<void(int)> m_wordsDone;
    QElapsedTimer m_wordsClock;
    // Wakes the window when its due reply is late, or when its stopped requests' replies are.
    QTimer m_wordsTimer;
    // The window stopped; the replies of its requests in flight are read and dropped.
    bool m_collecting = false;
    int m_stillDue = 0;
    bool m_steppingWindow = false;
    WireCapture* m_capture = nullptr;
};
