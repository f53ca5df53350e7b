#pragma once

#include "duxlframe.h"

#include <QByteArray>

// Cuts DUXL frames out of a byte stream that may hold garbage, split frames and corrupt frames.
// A candidate frame is only taken when its control byte (and a version reply's length) fits and its
// CRC matches; anything else is skipped byte by byte, so that a real frame behind a false start byte
// is still found.
class DuxlFrameDecoder
{
public:
    enum class Result {
        Frame,    // a checked frame was taken out
        Corrupt,  // a frame-shaped run of bytes failed its CRC (or was cut off by the next frame)
        NeedMore, // nothing complete in the buffer
    };

    void append(const QByteArray& bytes);
    // Takes the next result out of the buffered bytes; call until it returns NeedMore.
    Result next(DuxlFrame* frame);
    void clear();

    int bufferedBytes() const { return m_buffer.size() - m_head; }
    // Bytes skipped since construction: garbage, false start bytes and corrupt frames.
    qint64 discardedBytes() const { return m_discarded; }

private:
    // Length of the frame that starts at `offset` if it is complete and checks, else 0.
    int checkedFrameLength(int offset) const;
    static bool crcMatches(const char* frame, int length);
    void discard(int bytes);

    QByteArray m_buffer;
    // Where the bytes not yet taken start in m_buffer.
    int m_head = 0;
    qint64 m_discarded = 0;
};
