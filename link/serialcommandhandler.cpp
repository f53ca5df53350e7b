#include "serialcommandhandler.h"

#include "command.h"
#include "linkkindrules.h"
#include "nestedreplywait.h"
#include "wirecapture.h"
#include "wordwindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QScopedValueRollback>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

Q_LOGGING_CATEGORY(lcSerial, "dux.serial", QtInfoMsg)
// Every frame of a request made in trace mode, when "dux.serial.trace.debug" is enabled.
Q_LOGGING_CATEGORY(lcSerialTrace, "dux.serial.trace", QtInfoMsg)
// Bytes that arrived while no request waited: counted and reported now and then, never kept.
Q_LOGGING_CATEGORY(lcSerialUnsolicited, "dux.serial.unsolicited", QtInfoMsg)

namespace {

// While events are processed during a wait, the port is polled in slices this long, so that the GUI
// keeps painting at a steady rate during a long request such as the erase.
constexpr int ProcessEventsSliceMs = 20;
// After a corrupt frame a good one may still follow (the corrupt one may have been noise before it):
// wait this many frame times, plus a little scheduling slack, instead of the whole time-out.
constexpr int CorruptGraceFrames = 3;
constexpr int CorruptGraceSlackMs = 2;
constexpr int BitsPerByte = 10; // 8N1: start bit, 8 data bits, stop bit
// What the port reads from the device at one time; more stays with the system, which holds back the
// sender once its own buffer is full. Bounds the port's memory whatever streams in.
constexpr qint64 PortReadBufferBytes = 4096;
// Unsolicited bytes are read and dropped this many at a time.
constexpr qint64 DropChunkBytes = 1024;
// While a request waits, the decoder is never handed more than this: a few of the longest frames,
// enough for a reply behind a partial frame or a false start.
constexpr int DecoderCapBytes = 4 * DuxlFrame::MaxFrameBytes;
// A chattering module is reported at most this often, with the bytes dropped since the last report.
constexpr int UnsolicitedReportIntervalMs = 5000;
constexpr qint64 NsPerSecond = 1000000000;
constexpr qint64 NsPerMs = 1000000;
// A wait whose reply is due holds newer requests back for one more exchange's line time and this
// much for the module's turnaround; a reply later than that is a long one (the erase), during which
// the other links go on.
constexpr qint64 HoldSlackNs = 2 * NsPerMs;
// A module that knows the window question answers at once; one that does not never will. Long enough
// for a USB adapter's latency timer.
constexpr int WindowAnswerTimeoutMs = 100;
constexpr int RequestAndReplyBytes =
    DuxlFrame::HeaderBytes + DuxlFrame::CommandRequestBodyBytes + DuxlFrame::CrcBytes
    + DuxlFrame::HeaderBytes + DuxlFrame::CommandReplyBodyBytes + DuxlFrame::CrcBytes;

// Handlers named by their kind are numbered in the order they were made.
std::atomic<int> kindNamedHandlerCount{0};

// Whether the terminal behind `descriptor` hung up, rather than having nothing to read just now.
bool hungUp(qintptr descriptor)
{
    pollfd watched{int(descriptor), POLLIN, 0};
    return ::poll(&watched, 1, 0) < 0 || (watched.revents & (POLLHUP | POLLERR | POLLNVAL));
}

}

SerialCommandHandler::SerialCommandHandler(const QSerialPortInfo& port, int linkKind, QObject* parent)
    : CommandHandlerInterface(parent)
    , m_port(port)
    , m_linkKind(linkKind)
{
    const bool namedByKind = LinkKindRules::forKind(linkKind).handlerNamePrefix != nullptr;
    setObjectName(LinkKindRules::handlerName(linkKind, port.portName(), namedByKind ? ++kindNamedHandlerCount : 0));
    setProperty("dpComPort", port.portName());

    m_serial.setPort(port);
    m_serial.setBaudRate(m_dataRate);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    m_serial.setReadBufferSize(PortReadBufferBytes);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SerialCommandHandler::handleSerialError);
    connect(&m_serial, &QSerialPort::readyRead, this, &SerialCommandHandler::handleReadyRead);
    m_wordsTimer.setSingleShot(true);
    m_wordsTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_wordsTimer, &QTimer::timeout, this, &SerialCommandHandler::stepWindow);
}

SerialCommandHandler::~SerialCommandHandler()
{
    // Whoever waits for a page of words in flight is told it ended, with what was carried out.
    abandonWindowedRequests();
}

bool SerialCommandHandler::isDeviceOpen() const
{
    return m_open;
}

bool SerialCommandHandler::openDevice()
{
    if (m_serial.isOpen())
        return true;
    m_serial.setBaudRate(m_dataRate);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        m_errorString = m_serial.errorString();
        return false;
    }
    if (!lockDevice()) {
        m_serial.close();
        return false;
    }
    requestLowLatency();
    m_decoder.clear();
    // Whoever answers on the newly opened port is asked again.
    m_window = 0;
    m_open = true;
    if (m_capture)
        m_capture->noteOpened(portName(), m_dataRate);
    return true;
}

bool SerialCommandHandler::lockDevice()
{
    // The lock sits on the device itself, not on its name: a second host that opens the same device under
    // another name (a symbolic link) is refused too, root included, whom the exclusive open lets through.
    // Closing the port releases it. A device that cannot be locked at all is used without the lock.
    if (::flock(int(m_serial.handle()), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return true;
    m_errorString = tr("port %1 is in use: another program holds the lock on its device %2")
                        .arg(portName(), m_port.systemLocation());
    qCWarning(lcSerial).noquote() << m_errorString;
    return false;
}

void SerialCommandHandler::requestLowLatency()
{
    // A driver that holds received bytes to send them in bigger pieces costs every reply that wait.
    // Not every driver has the flag (a pseudo-terminal has none); the link works without it.
    serial_struct settings{};
    const int descriptor = int(m_serial.handle());
    if (::ioctl(descriptor, TIOCGSERIAL, &settings) != 0)
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(descriptor, TIOCSSERIAL, &settings) != 0)
        qCDebug(lcSerial).noquote() << portName() << "keeps its driver's latency:" << std::strerror(errno);
}

void SerialCommandHandler::closeDevice()
{
    m_open = false;
    // Closing a port that is not open counts as an error of its own in QSerialPort.
    if (m_serial.isOpen())
        closeSerial();
    stepWindow();
}

void SerialCommandHandler::closeSerial()
{
    m_serial.close();
    if (m_capture)
        m_capture->noteClosed(portName());
}

int SerialCommandHandler::dataRate() const
{
    return m_dataRate;
}

bool SerialCommandHandler::setDataRate(int rate)
{
    if (rate <= 0) {
        m_errorString = tr("data rate %1 is not possible").arg(rate);
        return false;
    }
    if (!m_serial.setBaudRate(rate)) {
        m_errorString = m_serial.errorString();
        qCWarning(lcSerial).noquote() << portName() << "refused" << rate << "baud:" << m_errorString;
        return false;
    }
    m_dataRate = rate;
    if (m_capture && m_serial.isOpen())
        m_capture->noteDataRate(portName(), rate);
    return true;
}

QString SerialCommandHandler::getFirmwareVersion(unsigned char moduleAddress)
{
    const quint8 sequence = m_sequence = DuxlFrame::nextSequence(m_sequence);
    DuxlFrame reply;
    if (!exchange(DuxlFrame::encodeVersionRequest(sequence, moduleAddress), DuxlFrame::Kind::VersionReply, sequence,
                  moduleAddress, &reply))
        return QString();
    return reply.text();
}

void SerialCommandHandler::doDirectRequest(Command* request, Command* reply)
{
    reply->invalidate();
    if (request->isBroadcast()) {
        // No module answers a broadcast: waiting could only end in the time-out.
        doDirectRequestWithoutReply(request);
        return;
    }
    const quint8 sequence = m_sequence = DuxlFrame::nextSequence(m_sequence);
    DuxlFrame frame;
    // Only the addressed module answers, so the reply does not repeat its address.
    if (exchange(DuxlFrame::encodeCommandRequest(sequence, *request, true), DuxlFrame::Kind::CommandReply, sequence,
                 request->moduleAddress(), &frame, request->command())) {
        reply->setReply(request->moduleAddress(), frame.command(), frame.status(), frame.value());
        noteReplyStatus(*reply);
    }
}

void SerialCommandHandler::doDirectRequestWithoutReply(Command* request)
{
    if (!m_open || m_busy)
        return;
    m_sequence = DuxlFrame::nextSequence(m_sequence);
    send(DuxlFrame::encodeCommandRequest(m_sequence, *request, false));
}

bool SerialCommandHandler::exchange(const QByteArray& frame, DuxlFrame::Kind replyKind, quint8 sequence,
                                    quint8 moduleAddress, DuxlFrame* reply, int command)
{
    if (!beginExchange())
        return false;
    const QScopedValueRollback<bool> busy(m_busy, true);
    if (!send(frame)) {
        noteFailure(Failure::PortGone);
        return false;
    }
    std::optional<NestedReplyWait> nested;
    if (m_waitInEventLoop) {
        const qint64 exchangeNs = lineNs(frame.size() + leastReplyBytes(replyKind));
        const qint64 dueNs = NestedReplyWait::nowNs() + exchangeNs;
        nested.emplace(dueNs, dueNs + exchangeNs + HoldSlackNs);
    }

    bool sawCorrupt = false;
    // A reply under this request's number that echoes another command: a module's early answer to the
    // next request, or the only answer it gives (some bootloaders echo another number at the checksum).
    std::optional<DuxlFrame> otherEcho;
    const Awaited awaited = awaitFrame(maxTimeoutMS(), [&](DuxlFrameDecoder::Result result, const DuxlFrame& received,
                                                          ReplyDeadline& deadline) {
        if (result == DuxlFrameDecoder::Result::Corrupt) {
            qCDebug(lcSerial).noquote() << portName() << "received a corrupt frame";
            deadline.shortenTo(corruptGraceMs());
            sawCorrupt = true;
            return false;
        }
        if (acceptsReply(received, replyKind, sequence)) {
            if (command != NoCommand && received.command() != command) {
                if (!otherEcho) {
                    otherEcho = received;
                    deadline.shortenTo(corruptGraceMs());
                }
                return false;
            }
            traceReply(received);
            *reply = received;
            return true;
        }
        if (received.kind() == replyKind)
            ++m_droppedReplies;
        qCDebug(lcSerial).noquote() << portName() << "skipped a frame of kind" << int(received.kind()) << "sequence"
                                    << received.sequence();
        return false;
    });
    switch (awaited) {
    case Awaited::Taken:
        return true;
    case Awaited::PortGone:
        noteFailure(Failure::PortGone);
        return false;
    case Awaited::TimedOut:
        break;
    }
    if (otherEcho) {
        *reply = *otherEcho;
        return true;
    }
    qCDebug(lcSerial).noquote() << portName() << "no reply from address" << moduleAddress;
    noteFailure(sawCorrupt ? Failure::CorruptReply : Failure::NoReply);
    return false;
}

SerialCommandHandler::Awaited SerialCommandHandler::awaitFrame(int timeoutMs, const FrameTaker& take)
{
    ReplyDeadline deadline(timeoutMs);
    for (;;) {
        DuxlFrame received;
        DuxlFrameDecoder::Result result;
        while ((result = m_decoder.next(&received)) != DuxlFrameDecoder::Result::NeedMore) {
            if (take(result, received, deadline))
                return Awaited::Taken;
        }
        const qint64 remainingMs = deadline.remainingMs();
        if (remainingMs <= 0)
            return Awaited::TimedOut;
        if (!receive(int(remainingMs)))
            return Awaited::PortGone;
    }
}

int SerialCommandHandler::requestWindow()
{
    if (windowLimit() <= 1 || !m_open)
        return 1;
    if (m_window == 0)
        m_window = askWindow();
    return qMin(m_window, windowLimit());
}

int SerialCommandHandler::askWindow()
{
    if (m_busy)
        return 1;
    const QScopedValueRollback<bool> busy(m_busy, true);
    dropPendingBytes();
    m_decoder.clear();
    if (!send(DuxlFrame::encodeWindow(quint8(windowLimit()))))
        return 1;
    int window = 1;
    awaitFrame(WindowAnswerTimeoutMs, [&](DuxlFrameDecoder::Result result, const DuxlFrame& received, ReplyDeadline&) {
        if (result != DuxlFrameDecoder::Result::Frame || received.kind() != DuxlFrame::Kind::Window)
            return false;
        qCDebug(lcSerial).noquote() << portName() << "module takes" << received.window() << "requests in flight";
        window = qBound(1, int(received.window()), MaxWindow);
        return true;
    });
    return window;
}

void SerialCommandHandler::startWindowedRequests(const QVector<Command*>& requests, const QVector<Command*>& replies,
                                                 std::function<void(int carriedOut)> done)
{
    // The words' replies come back through the port's notifications, not a wait: the thread (the GUI's)
    // stays free for the window and for other links while a page of words is in flight.
    if (requestWindow() <= 1) {
        CommandHandlerInterface::startWindowedRequests(requests, replies, std::move(done));
        return;
    }
    auto words = std::make_unique<WordWindow>(requests, replies, requestWindow());
    if (!beginExchange()) {
        done(0);
        return;
    }
    m_busy = true;
    m_words = std::move(words);
    m_wordsDone = std::move(done);
    m_wordsClock.start();
    m_collecting = false;
    stepWindow();
}

bool SerialCommandHandler::beginExchange()
{
    beginRequest();
    if (!m_open) {
        noteFailure(Failure::PortGone);
        return false;
    }
    if (m_busy) {
        qCWarning(lcSerial).noquote() << portName() << "refused a request made while another one waits";
        noteFailure(Failure::LinkBusy);
        return false;
    }
    // Whatever arrived before this request (a late reply, noise) cannot be its answer.
    dropPendingBytes();
    m_decoder.clear();
    return true;
}

void SerialCommandHandler::advanceWindow(WordWindow& words, const QElapsedTimer& clock)
{
    // Each reply taken frees a place: the next request goes out at once rather than after the next bytes.
    // The requests due at once leave in one write: one wake-up of the other end, not one per request.
    do {
        QByteArray due;
        while (words.maySend()) {
            m_sequence = DuxlFrame::nextSequence(m_sequence);
            const QByteArray frame = words.send(m_sequence, clock.elapsed());
            noteSent(frame);
            due += frame;
        }
        if (!due.isEmpty() && !writeOut(due)) {
            words.fail(Failure::PortGone);
            return;
        }
    } while (takeReplies(words) && words.maySend());
}

bool SerialCommandHandler::takeReplies(WordWindow& words)
{
    bool answered = false;
    DuxlFrame received;
    DuxlFrameDecoder::Result result;
    while (!words.isOver() && (result = m_decoder.next(&received)) != DuxlFrameDecoder::Result::NeedMore) {
        // A corrupt frame may have been any reply in flight: the window cannot tell which one.
        if (result == DuxlFrameDecoder::Result::Corrupt) {
            words.fail(Failure::CorruptReply);
            break;
        }
        switch (words.take(received)) {
        case WordWindow::Taken::Answer:
            traceReply(received);
            answered = true;
            break;
        case WordWindow::Taken::Refusal:
            traceReply(received);
            noteReplyStatus(words.refusal());
            break;
        case WordWindow::Taken::Stray:
            ++m_droppedReplies;
            break;
        case WordWindow::Taken::Other:
            break;
        }
    }
    return answered;
}

bool SerialCommandHandler::endWindow(const WordWindow& words)
{
    if (const std::optional<Failure> failure = words.failure()) {
        qCDebug(lcSerial).noquote() << portName() << "window stopped at request" << words.carriedOut() + 1 << "of"
                                    << words.size();
        noteFailure(*failure);
    }
    return words.carriedOut() < words.size() && words.failure() != Failure::PortGone;
}

void SerialCommandHandler::stepWindow()
{
    // Sending a request may let the port report bytes that came meanwhile; the step under way reads them.
    if (!m_words || m_steppingWindow)
        return;
    const QScopedValueRollback<bool> stepping(m_steppingWindow, true);
    m_wordsTimer.stop();
    for (;;) {
        if (!m_serial.isOpen()) {
            if (m_collecting)
                break;
            m_words->fail(Failure::PortGone);
        } else if (m_serial.bytesAvailable() > 0) {
            readIntoDecoder();
        }
        qint64 remainingMs;
        if (!m_collecting) {
            advanceWindow(*m_words, m_wordsClock);
            if (m_words->isOver()) {
                if (!endWindow(*m_words))
                    break;
                // The replies of the requests still in flight are read and dropped, so that none is left
                // for the next request.
                m_collecting = true;
                m_stillDue = m_words->stillDue();
                m_wordsClock.start();
                continue;
            }
            if (m_words->allAnswered())
                continue;
            remainingMs = m_words->dueByMs(maxTimeoutMS()) - m_wordsClock.elapsed();
            if (remainingMs <= 0) {
                m_words->fail(Failure::NoReply);
                continue;
            }
        } else {
            m_stillDue -= countReplies();
            remainingMs = collectGraceMs(m_words->stillDue()) - m_wordsClock.elapsed();
            if (m_stillDue <= 0 || remainingMs <= 0)
                break;
        }
        if (m_serial.bytesAvailable() == 0) {
            m_wordsTimer.start(int(remainingMs));
            return;
        }
    }
    finishWindow();
}

void SerialCommandHandler::abandonWindowedRequests()
{
    if (m_words)
        finishWindow();
}

void SerialCommandHandler::finishWindow()
{
    const int carriedOut = m_words->carriedOut();
    m_words.reset();
    m_wordsTimer.stop();
    m_decoder.clear();
    m_busy = false;
    // Taken out first: `done` may start the next window of this link.
    const std::function<void(int)> done = std::move(m_wordsDone);
    m_wordsDone = nullptr;
    done(carriedOut);
}

int SerialCommandHandler::countReplies()
{
    int replies = 0;
    DuxlFrame received;
    DuxlFrameDecoder::Result result;
    while ((result = m_decoder.next(&received)) != DuxlFrameDecoder::Result::NeedMore) {
        if (result == DuxlFrameDecoder::Result::Frame && received.kind() == DuxlFrame::Kind::CommandReply)
            ++replies;
    }
    return replies;
}

qint64 SerialCommandHandler::collectGraceMs(int due) const
{
    return lineNs(due * RequestAndReplyBytes) / NsPerMs + corruptGraceMs();
}

void SerialCommandHandler::traceReply(const DuxlFrame& reply) const
{
    if (traceMode())
        qCDebug(lcSerialTrace).noquote() << portName() << "<- reply" << reply.sequence() << "command" << reply.command()
                                         << "status" << reply.status() << "value" << reply.value() << reply.text();
}

bool SerialCommandHandler::acceptsReply(const DuxlFrame& frame, DuxlFrame::Kind replyKind, quint8 sequence) const
{
    return frame.kind() == replyKind && frame.sequence() == sequence;
}

bool SerialCommandHandler::send(const QByteArray& frame)
{
    noteSent(frame);
    return writeOut(frame);
}

void SerialCommandHandler::noteSent(const QByteArray& frame) const
{
    if (traceMode())
        qCDebug(lcSerialTrace).noquote() << portName() << "->" << frame.toHex(' ');
    if (m_capture)
        m_capture->noteSent(portName(), frame);
}

bool SerialCommandHandler::writeOut(const QByteArray& bytes)
{
    if (m_serial.write(bytes) != bytes.size()) {
        m_errorString = m_serial.errorString();
        return false;
    }
    // Out now rather than when the event loop next runs: the caller is about to wait for the reply.
    m_serial.flush();
    if (m_serial.bytesToWrite() > 0 && !m_serial.waitForBytesWritten(maxTimeoutMS())) {
        m_errorString = m_serial.errorString();
        return false;
    }
    return true;
}

void SerialCommandHandler::setWaitInEventLoop(bool wait)
{
    m_waitInEventLoop = wait;
}

void SerialCommandHandler::setWireCapture(WireCapture* capture)
{
    m_capture = capture;
}

bool SerialCommandHandler::receive(int timeoutMs)
{
    if (m_waitInEventLoop)
        waitAmongOtherLinks(timeoutMs);
    else if (forceProcessEvents())
        waitKeepingEventsRunning(timeoutMs);
    else if (m_serial.bytesAvailable() == 0)
        m_serial.waitForReadyRead(timeoutMs);
    if (!m_serial.isOpen())
        return false;
    readIntoDecoder();
    return true;
}

void SerialCommandHandler::waitAmongOtherLinks(int timeoutMs)
{
    if (m_serial.bytesAvailable() > 0)
        return;
    const qint64 nowNs = NestedReplyWait::nowNs();
    const NestedReplyWait::Turn turn = NestedReplyWait::turn(nowNs);
    const qint64 turnMs = (turn.untilNs - nowNs + NsPerMs - 1) / NsPerMs;
    const int sliceMs = int(qBound<qint64>(1, turnMs, qMax(1, timeoutMs)));
    if (!turn.eventsMayRun) {
        m_serial.waitForReadyRead(sliceMs);
        return;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_serial, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
    connect(&m_serial, &QSerialPort::errorOccurred, &loop, &QEventLoop::quit);
    deadline.start(sliceMs);
    loop.exec();
}

void SerialCommandHandler::waitKeepingEventsRunning(int timeoutMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_serial.isOpen() && m_serial.bytesAvailable() == 0)
        m_serial.waitForReadyRead(qMin(timeoutMs, ProcessEventsSliceMs));
}

void SerialCommandHandler::readIntoDecoder()
{
    // The decoder keeps at most a partial frame between calls; should it keep more, what it holds
    // cannot end in a frame within the cap and goes.
    if (m_decoder.bufferedBytes() >= DecoderCapBytes)
        m_decoder.clear();
    const QByteArray bytes = m_serial.read(DecoderCapBytes - m_decoder.bufferedBytes());
    if (m_capture)
        m_capture->noteReceived(portName(), bytes);
    m_decoder.append(bytes);
}

void SerialCommandHandler::handleReadyRead()
{
    // A waiting request reads for itself; a window that does not hold the thread reads here.
    if (m_words)
        stepWindow();
    else if (!m_busy)
        dropPendingBytes();
}

void SerialCommandHandler::dropPendingBytes()
{
    char chunk[DropChunkBytes];
    qint64 dropped = 0;
    for (qint64 read; (read = m_serial.read(chunk, DropChunkBytes)) > 0;) {
        if (m_capture)
            m_capture->noteReceived(portName(), QByteArray::fromRawData(chunk, int(read)));
        dropped += read;
    }
    if (dropped == 0)
        return;
    m_unsolicitedBytes += dropped;
    m_unreportedBytes += dropped;
    if (m_sinceReport.isValid() && m_sinceReport.elapsed() < UnsolicitedReportIntervalMs)
        return;
    qCInfo(lcSerialUnsolicited).noquote() << portName() << "dropped" << m_unreportedBytes
                                          << "bytes that no request asked for," << m_unsolicitedBytes << "in all";
    m_unreportedBytes = 0;
    m_sinceReport.start();
}

qint64 SerialCommandHandler::lineNsAt(qint64 bytes, int dataRate)
{
    return bytes * BitsPerByte * NsPerSecond / qMax(1, dataRate);
}

qint64 SerialCommandHandler::lineNs(int bytes) const
{
    return lineNsAt(bytes, m_dataRate);
}

int SerialCommandHandler::leastReplyBytes(DuxlFrame::Kind replyKind)
{
    // A version reply's text may be empty: its length byte alone.
    const int bodyBytes = replyKind == DuxlFrame::Kind::CommandReply ? DuxlFrame::CommandReplyBodyBytes : 1;
    return DuxlFrame::HeaderBytes + bodyBytes + DuxlFrame::CrcBytes;
}

int SerialCommandHandler::corruptGraceMs() const
{
    const int frameMs = int(lineNs(DuxlFrame::MaxFrameBytes) / NsPerMs);
    return CorruptGraceFrames * frameMs + CorruptGraceSlackMs;
}

void SerialCommandHandler::handleSerialError(QSerialPort::SerialPortError error)
{
    // A time-out is how waitForReadyRead() tells that nothing came; the caller decides about it.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    // A read notification whose bytes a request's own wait took first reads nothing, and the port then
    // names whatever errno held last (often EAGAIN, a "resource" error). Only a hang-up or error the
    // device itself reports, or its node gone, means it went away; the port is fine otherwise.
    const bool readFailed = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (readFailed && m_serial.isOpen() && !deviceGone()) {
        qCDebug(lcSerial).noquote() << portName() << "read nothing; the device is still there";
        m_serial.clearError();
        // The port stops its read notifications after a "resource" error; a read starts them again.
        if (!m_busy)
            dropPendingBytes();
        return;
    }
    m_errorString = readFailed ? tr("the device went away") : m_serial.errorString();
    // A module on a USB link leaves its port each time it restarts, into its bootloader and out of it:
    // that is what a re-plug looks like, not an error. An update that did not expect it fails and says so.
    if (readFailed && LinkKindRules::forKind(m_linkKind).reenumerates)
        qCInfo(lcSerial).noquote() << portName() << m_port.systemLocation() << "left its port (a USB re-plug)";
    else
        qCWarning(lcSerial).noquote() << portName() << m_port.systemLocation() << "serial port error:" << m_errorString;
    if (readFailed) {
        // Nothing more comes from it, and the read notifier would repeat the error.
        m_open = false;
        closeSerial();
        stepWindow();
    }
}

bool SerialCommandHandler::deviceGone() const
{
    return hungUp(m_serial.handle()) || !QFileInfo::exists(m_port.systemLocation());
}
