#include "duxlframedecoder.h"

namespace {
constexpr char StartByte = char(DuxlFrame::StartOfFrame);
}

void DuxlFrameDecoder::append(const QByteArray& bytes)
{
    m_buffer.append(bytes);
}

void DuxlFrameDecoder::clear()
{
    m_discarded += m_buffer.size();
    m_buffer.clear();
}

void DuxlFrameDecoder::discard(int bytes)
{
    m_discarded += bytes;
    m_buffer.remove(0, bytes);
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
        const int start = m_buffer.indexOf(StartByte);
        if (start < 0) {
            discard(m_buffer.size());
            return Result::NeedMore;
        }
        discard(start);
        if (m_buffer.size() < DuxlFrame::HeaderBytes)
            return Result::NeedMore;

        const quint8 kind = quint8(m_buffer.at(1));
        const quint8 payloadLength = quint8(m_buffer.at(2));
        if (!DuxlFrame::isPlausibleHeader(kind, payloadLength)) {
            discard(1);
            continue;
        }

        const int total = DuxlFrame::HeaderBytes + payloadLength + DuxlFrame::CrcBytes;
        if (m_buffer.size() < total) {
            // A frame cut off by the start of a complete one: waiting for the missing bytes would
            // only swallow the good frame, so give up on the cut one now.
            for (int next = m_buffer.indexOf(StartByte, 1); next > 0; next = m_buffer.indexOf(StartByte, next + 1)) {
                if (checkedFrameLength(next) > 0) {
                    discard(next);
                    return Result::Corrupt;
                }
            }
            return Result::NeedMore;
        }

        if (checkedFrameLength(0) == 0) {
            // Drop only the start byte: a real frame may begin inside the bytes that failed.
            discard(1);
            return Result::Corrupt;
        }

        *frame = DuxlFrame::fromPayload(DuxlFrame::Kind(kind), m_buffer.constData() + DuxlFrame::HeaderBytes,
                                        payloadLength);
        m_buffer.remove(0, total);
        return Result::Frame;
    }
}
