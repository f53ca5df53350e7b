#include "serialcommandhandler.h"

#include "command.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QScopedValueRollback>
#include <QTimer>

#include <poll.h>

Q_LOGGING_CATEGORY(lcSerial, "dux.serial", QtInfoMsg)
// Every frame of a request made in trace mode, when "dux.serial.trace.debug" is enabled.
Q_LOGGING_CATEGORY(lcSerialTrace, "dux.serial.trace", QtInfoMsg)

namespace {

// While events are processed during a wait, the port is polled in slices this long, so that the GUI
// keeps painting at a steady rate during a long request such as the erase.
constexpr int ProcessEventsSliceMs = 20;
// After a corrupt frame a good one may still follow (the corrupt one may have been noise before it):
// wait this many frame times, plus a little scheduling slack, instead of the whole time-out.
constexpr int CorruptGraceFrames = 3;
constexpr int CorruptGraceSlackMs = 2;
constexpr int BitsPerByte = 10; // 8N1: start bit, 8 data bits, stop bit

std::atomic<int> usbHandlerCount{0};

// Whether the terminal behind `descriptor` hung up, rather than having nothing to read just now.
bool hungUp(qintptr descriptor)
{
    pollfd watched{int(descriptor), POLLIN, 0};
    return ::poll(&watched, 1, 0) < 0 || (watched.revents & (POLLHUP | POLLERR | POLLNVAL));
}

}

SerialCommandHandler::SerialCommandHandler(const QSerialPortInfo& port, bool usbLink, QObject* parent)
    : CommandHandlerInterface(parent)
    , m_port(port)
{
    if (usbLink)
        setObjectName(QLatin1String(UsbObjectNamePrefix) + QString::number(++usbHandlerCount));
    else
        setObjectName(port.portName());
    setProperty("dpComPort", port.portName());

    m_serial.setPort(port);
    m_serial.setBaudRate(m_dataRate);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SerialCommandHandler::handleSerialError);
}

SerialCommandHandler::~SerialCommandHandler() = default;

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
    m_decoder.clear();
    m_open = true;
    return true;
}

void SerialCommandHandler::closeDevice()
{
    m_open = false;
    // Closing a port that is not open counts as an error of its own in QSerialPort.
    if (m_serial.isOpen())
        m_serial.close();
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
    return true;
}

QString SerialCommandHandler::getFirmwareVersion(unsigned char moduleAddress)
{
    const quint8 sequence = ++m_sequence;
    DuxlFrame reply;
    if (!exchange(DuxlFrame::encodeVersionRequest(sequence, moduleAddress, HostAddress),
                  DuxlFrame::Kind::VersionReply, sequence, moduleAddress, HostAddress, &reply))
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
    const quint8 sequence = ++m_sequence;
    DuxlFrame frame;
    if (exchange(DuxlFrame::encodeCommandRequest(sequence, *request, true), DuxlFrame::Kind::CommandReply, sequence,
                 request->moduleAddress(), request->replyAddress(), &frame))
        reply->setReply(frame.moduleAddress(), frame.command(), frame.status(), frame.value());
}

void SerialCommandHandler::doDirectRequestWithoutReply(Command* request)
{
    if (!m_open || m_busy)
        return;
    send(DuxlFrame::encodeCommandRequest(++m_sequence, *request, false));
}

bool SerialCommandHandler::exchange(const QByteArray& frame, DuxlFrame::Kind replyKind, quint8 sequence,
                                    quint8 moduleAddress, quint8 replyAddress, DuxlFrame* reply)
{
    if (!m_open) {
        m_errorString = tr("the port is not open");
        return false;
    }
    if (m_busy) {
        qCWarning(lcSerial).noquote() << portName() << "refused a request made while another one waits";
        m_errorString = tr("another request is waiting");
        return false;
    }
    const QScopedValueRollback<bool> busy(m_busy, true);

    // Whatever arrived before this request (a late reply, noise) cannot be its answer.
    m_serial.readAll();
    m_decoder.clear();
    if (!send(frame))
        return false;

    QElapsedTimer clock;
    clock.start();
    qint64 deadlineMs = maxTimeoutMS();
    for (;;) {
        DuxlFrame received;
        DuxlFrameDecoder::Result result;
        while ((result = m_decoder.next(&received)) != DuxlFrameDecoder::Result::NeedMore) {
            if (result == DuxlFrameDecoder::Result::Corrupt) {
                qCDebug(lcSerial).noquote() << portName() << "received a corrupt frame";
                deadlineMs = qMin(deadlineMs, clock.elapsed() + corruptGraceMs());
                continue;
            }
            if (acceptsReply(received, replyKind, sequence, moduleAddress, replyAddress)) {
                if (traceMode())
                    qCDebug(lcSerialTrace).noquote()
                        << portName() << "<- reply" << received.sequence() << "command" << received.command()
                        << "status" << received.status() << "value" << received.value() << received.text();
                *reply = received;
                return true;
            }
            qCDebug(lcSerial).noquote() << portName() << "skipped a frame of kind" << int(received.kind())
                                        << "sequence" << received.sequence() << "from" << received.moduleAddress();
        }
        const qint64 remainingMs = deadlineMs - clock.elapsed();
        if (remainingMs <= 0) {
            m_errorString = tr("no reply from address %1 within %2 ms").arg(moduleAddress).arg(deadlineMs);
            return false;
        }
        if (!receive(int(remainingMs)))
            return false;
    }
}

bool SerialCommandHandler::acceptsReply(const DuxlFrame& frame, DuxlFrame::Kind replyKind, quint8 sequence,
                                        quint8 moduleAddress, quint8 replyAddress) const
{
    return frame.kind() == replyKind && frame.sequence() == sequence && frame.moduleAddress() == moduleAddress
        && frame.replyAddress() == replyAddress;
}

bool SerialCommandHandler::send(const QByteArray& frame)
{
    if (traceMode())
        qCDebug(lcSerialTrace).noquote() << portName() << "->" << frame.toHex(' ');
    if (m_serial.write(frame) != frame.size()) {
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

void SerialCommandHandler::waitInEventLoop(int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_serial, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
    connect(&m_serial, &QSerialPort::errorOccurred, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
}

bool SerialCommandHandler::receive(int timeoutMs)
{
    if (m_waitInEventLoop) {
        if (m_serial.bytesAvailable() == 0)
            waitInEventLoop(timeoutMs);
    } else if (forceProcessEvents()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!m_serial.isOpen()) {
            m_errorString = tr("the port was closed while a request waited");
            return false;
        }
        if (m_serial.bytesAvailable() == 0)
            m_serial.waitForReadyRead(qMin(timeoutMs, ProcessEventsSliceMs));
    } else {
        m_serial.waitForReadyRead(timeoutMs);
    }
    if (!m_serial.isOpen()) {
        m_errorString = tr("the port was closed while a request waited");
        return false;
    }
    m_decoder.append(m_serial.readAll());
    return true;
}

int SerialCommandHandler::corruptGraceMs() const
{
    const int frameMs = DuxlFrame::MaxFrameBytes * BitsPerByte * 1000 / qMax(1, m_dataRate);
    return CorruptGraceFrames * frameMs + CorruptGraceSlackMs;
}

void SerialCommandHandler::handleSerialError(QSerialPort::SerialPortError error)
{
    // A time-out is how waitForReadyRead() tells that nothing came; the caller decides about it.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    // A read notification whose bytes a request's own wait took first finds nothing and reads as end
    // of file, as a hang-up does; the port is fine then.
    if (error == QSerialPort::ReadError && m_serial.isOpen() && !hungUp(m_serial.handle())) {
        m_serial.clearError();
        return;
    }
    m_errorString = m_serial.errorString();
    qCWarning(lcSerial).noquote() << portName() << m_port.systemLocation() << "serial port error:" << m_errorString;
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        // The device went away (a USB module that restarts, an unplugged adapter; a hung-up terminal
        // reads as end of file): nothing more comes from it, and the read notifier would repeat the error.
        m_open = false;
        m_serial.close();
    }
}
