#include "duxlframedecoder.h"

namespace {
constexpr char StartByte = char(DuxlFrame::StartOfFrame);
}

void DuxlFrameDecoder::append(const QByteArray& bytes)
{
    // Taken bytes stay in front of the read position until more arrive: dropping them one by one
    // would move the rest of the buffer each time, and a long run of false starts would cost the
    // square of its length.
    if (m_head > 0) {
        m_buffer.remove(0, m_head);
        m_head = 0;
    }
    m_buffer.append(bytes);
}

void DuxlFrameDecoder::clear()
{
    m_discarded += bufferedBytes();
    m_buffer.clear();
    m_head = 0;
}

void DuxlFrameDecoder::discard(int bytes)
{
    m_discarded += bytes;
    m_head += bytes;
}

int DuxlFrameDecoder::checkedFrameLength(int offset) const
{
    const int available = m_buffer.size() - offset;
    if (available < DuxlFrame::HeaderBytes)
        return 0;
    const char* start = m_buffer.constData() + offset;
    const quint8 payloadLength = quint8(start[2]);
    if (!DuxlFrame::isPlausibleHeader(quint8(start[1]), payloadLength))
        return 0;
    const int total = DuxlFrame::HeaderBytes + payloadLength + DuxlFrame::CrcBytes;
    if (available < total)
        return 0;
    const int crcOffset = DuxlFrame::HeaderBytes + payloadLength;
    const quint16 received = quint16((quint8(start[crcOffset]) << 8) | quint8(start[crcOffset + 1]));
    return DuxlFrame::crc16(start + 1, crcOffset - 1) == received ? total : 0;
}

DuxlFrameDecoder::Result DuxlFrameDecoder::next(DuxlFrame* frame)
{
    for (;;) {
        const int start = m_buffer.indexOf(StartByte, m_head);
        if (start < 0) {
            discard(bufferedBytes());
            return Result::NeedMore;
        }
        discard(start - m_head);
        if (bufferedBytes() < DuxlFrame::HeaderBytes)
            return Result::NeedMore;

        const quint8 kind = quint8(m_buffer.at(m_head + 1));
        const quint8 payloadLength = quint8(m_buffer.at(m_head + 2));
        if (!DuxlFrame::isPlausibleHeader(kind, payloadLength)) {
            discard(1);
            continue;
        }

        const int total = DuxlFrame::HeaderBytes + payloadLength + DuxlFrame::CrcBytes;
        if (bufferedBytes() < total) {
            // A frame cut off by the start of a complete one: waiting for the missing bytes would
            // only swallow the good frame, so give up on the cut one now. The cut one is shorter than
            // a frame, so this looks at a bounded number of bytes.
            for (int next = m_buffer.indexOf(StartByte, m_head + 1); next > 0;
                 next = m_buffer.indexOf(StartByte, next + 1)) {
                if (checkedFrameLength(next) > 0) {
                    discard(next - m_head);
                    return Result::Corrupt;
                }
            }
            return Result::NeedMore;
        }

        if (checkedFrameLength(m_head) == 0) {
            // Drop only the start byte: a real frame may begin inside the bytes that failed.
            discard(1);
            return Result::Corrupt;
        }

        *frame = DuxlFrame::fromPayload(DuxlFrame::Kind(kind), m_buffer.constData() + m_head + DuxlFrame::HeaderBytes,
                                        payloadLength);
        m_head += total;
        return Result::Frame;
    }
}
