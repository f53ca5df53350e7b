#include "capturereplay.h"

#include "duxlframedecoder.h"

namespace {
constexpr int SequenceCount = DuxlFrame::SequenceMask + 1;

bool isRequest(const DuxlFrame& frame)
{
    return frame.kind() == DuxlFrame::Kind::CommandRequest || frame.kind() == DuxlFrame::Kind::VersionRequest
        || frame.kind() == DuxlFrame::Kind::Window;
}
}

bool CaptureReplay::load(const QList<CaptureRecord>& records, const QString& port)
{
    m_exchanges.clear();
    m_position = 0;
    m_departure.clear();
    m_port = port;
    for (const CaptureRecord& record : records) {
        if (!m_port.isEmpty())
            break;
        if (record.event == CaptureRecord::Event::Module)
            m_port = record.port;
    }
    const QList<TimedFrame> requests = framesOf(records, m_port, CaptureRecord::Direction::HostToModule);
    for (const TimedFrame& request : requests) {
        if (isRequest(request.frame))
            m_exchanges.append({request.frame, request.atUs, {}, {}});
    }
    if (m_exchanges.isEmpty()) {
        m_errorString = m_port.isEmpty() ? QStringLiteral("the capture names no module")
                                         : QStringLiteral("the capture holds no request on %1").arg(m_port);
        return false;
    }
    const QList<TimedFrame> replies = framesOf(records, m_port, CaptureRecord::Direction::ModuleToHost);
    for (const TimedFrame& reply : replies) {
        // Only replies are played: whatever else came from the module's side is no answer to anyone.
        const int index = isRequest(reply.frame) && reply.frame.kind() != DuxlFrame::Kind::Window ? -1 : exchangeOf(reply);
        if (index < 0)
            continue;
        m_exchanges[index].replies.append(reply.frame);
        m_exchanges[index].replyAtUs.append(reply.atUs);
    }
    return true;
}

QList<CaptureReplay::TimedFrame> CaptureReplay::framesOf(const QList<CaptureRecord>& records, const QString& port,
                                                         CaptureRecord::Direction direction)
{
    QList<TimedFrame> frames;
    DuxlFrameDecoder decoder;
    for (const CaptureRecord& record : records) {
        if (record.port != port)
            continue;
        // A port opened again starts from a clean line.
        if (record.event == CaptureRecord::Event::Open)
            decoder.clear();
        if (record.event != CaptureRecord::Event::Data || record.direction != direction)
            continue;
        decoder.append(record.payload);
        DuxlFrame frame;
        for (DuxlFrameDecoder::Result result; (result = decoder.next(&frame)) != DuxlFrameDecoder::Result::NeedMore;) {
            if (result == DuxlFrameDecoder::Result::Frame)
                frames.append({frame, record.timestampUs});
        }
    }
    return frames;
}

int CaptureReplay::exchangeOf(const TimedFrame& reply) const
{
    int latest = -1;
    for (int i = m_exchanges.size() - 1; i >= 0; --i) {
        const Exchange& exchange = m_exchanges.at(i);
        if (exchange.atUs > reply.atUs)
            continue;
        if (latest < 0)
            latest = i;
        const bool window = reply.frame.kind() == DuxlFrame::Kind::Window;
        if (window == (exchange.request.kind() == DuxlFrame::Kind::Window)
            && (window || exchange.request.sequence() == reply.frame.sequence()))
            return i;
    }
    return latest;
}

qint64 CaptureReplay::recordedUs() const
{
    if (m_exchanges.isEmpty())
        return 0;
    qint64 endUs = m_exchanges.constLast().atUs;
    for (const Exchange& exchange : m_exchanges) {
        for (qint64 atUs : exchange.replyAtUs)
            endUs = qMax(endUs, atUs);
    }
    return endUs - m_exchanges.constFirst().atUs;
}

QList<CaptureReplay::Reply> CaptureReplay::answer(const DuxlFrame& request)
{
    if (hasDeparted())
        return {};
    if (m_position >= m_exchanges.size()) {
        m_departure = QStringLiteral("request %1 (%2) comes after the last one of the capture")
                          .arg(m_position + 1)
                          .arg(describe(request));
        return {};
    }
    const Exchange& expected = m_exchanges.at(m_position);
    if (!sameRequest(expected.request, request)) {
        m_departure = QStringLiteral("request %1 departs from the capture: expected %2, got %3")
                          .arg(m_position + 1)
                          .arg(describe(expected.request), describe(request));
        return {};
    }
    ++m_position;
    const int shift = request.sequence() - expected.request.sequence();
    QList<Reply> replies;
    for (int i = 0; i < expected.replies.size(); ++i)
        replies.append({renumbered(expected.replies.at(i), shift), expected.replyAtUs.at(i) - expected.atUs});
    return replies;
}

QString CaptureReplay::describe(const DuxlFrame& request)
{
    switch (request.kind()) {
    case DuxlFrame::Kind::VersionRequest:
        return QStringLiteral("version request to address %1").arg(request.moduleAddress());
    case DuxlFrame::Kind::Window:
        return QStringLiteral("window question of %1").arg(request.window());
    case DuxlFrame::Kind::CommandRequest:
        return QStringLiteral("command %1 type %2 bank %3 value %4 to address %5%6")
            .arg(request.command())
            .arg(request.type())
            .arg(request.motorBank())
            .arg(request.value())
            .arg(request.moduleAddress())
            .arg(request.wantsReply() ? QString() : QStringLiteral(", no reply wanted"));
    default:
        return QStringLiteral("a frame of kind %1").arg(int(request.kind()));
    }
}

bool CaptureReplay::sameRequest(const DuxlFrame& a, const DuxlFrame& b)
{
    return a.kind() == b.kind() && a.flags() == b.flags() && a.moduleAddress() == b.moduleAddress()
        && a.command() == b.command() && a.type() == b.type() && a.motorBank() == b.motorBank()
        && a.value() == b.value();
}

QByteArray CaptureReplay::renumbered(const DuxlFrame& reply, int shift)
{
    const quint8 sequence = quint8((reply.sequence() + shift + SequenceCount) & DuxlFrame::SequenceMask);
    if (reply.kind() == DuxlFrame::Kind::Window)
        return DuxlFrame::encodeWindow(reply.window());
    if (reply.kind() == DuxlFrame::Kind::VersionReply)
        return DuxlFrame::encodeVersionReply(sequence, reply.text());
    return DuxlFrame::encodeCommandReply(sequence, reply.command(), reply.status(), reply.value());
}
