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
    const char* start = m_buffer.constData() + offset;
    const int length = DuxlFrame::frameLength(start, available);
    return length > 0 && available >= length && crcMatches(start, length) ? length : 0;
}

bool DuxlFrameDecoder::crcMatches(const char* frame, int length)
{
    const int crcOffset = length - DuxlFrame::CrcBytes;
    const quint16 received = quint16((quint8(frame[crcOffset]) << 8) | quint8(frame[crcOffset + 1]));
    return DuxlFrame::crc16(frame + 1, crcOffset - 1) == received;
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

        const char* head = m_buffer.constData() + m_head;
        const int length = DuxlFrame::frameLength(head, bufferedBytes());
        if (length == 0) {
            discard(1);
            continue;
        }
        if (length < 0)
            return Result::NeedMore;

        if (bufferedBytes() < length) {
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

        if (!crcMatches(head, length)) {
            // Drop only the start byte: a real frame may begin inside the bytes that failed.
            discard(1);
            return Result::Corrupt;
        }

        *frame = DuxlFrame::fromBytes(head, length);
        m_head += length;
        return Result::Frame;
    }
}
