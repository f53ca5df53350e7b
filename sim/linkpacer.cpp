#include "linkpacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {
constexpr qint64 NsPerSecond = 1000000000;
constexpr int BitsPerByte = 10; // start bit, 8 data bits, stop bit
// Bytes leave in chunks of about this much wire time: finer would cost a wake-up of the host per byte.
constexpr qint64 OutputChunkNs = 1000000;
}

void LinkPacer::setRate(int bitsPerSecond)
{
    m_rate = std::max(0, bitsPerSecond);
}

qint64 LinkPacer::byteNs() const
{
    return m_rate > 0 ? BitsPerByte * NsPerSecond / m_rate : 0;
}

qint64 LinkPacer::nowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * NsPerSecond + now.tv_nsec;
}

void LinkPacer::sleepUntilNs(qint64 deadlineNs)
{
    const timespec deadline{time_t(deadlineNs / NsPerSecond), long(deadlineNs % NsPerSecond)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void LinkPacer::noteReceived(int bytes)
{
    if (m_rate == 0)
        return;
    // The host wrote these bytes at once; on a real line they follow each other from now on (or from
    // the end of the bytes still under way).
    m_inputEndNs = std::max(nowNs(), m_inputEndNs) + bytes * byteNs();
}

void LinkPacer::waitForFrame(int bytesAfterFrame)
{
    if (m_rate == 0)
        return;
    m_frameEndNs = m_inputEndNs - bytesAfterFrame * byteNs();
    sleepUntilNs(m_frameEndNs);
    m_frameSeenNs = nowNs();
}

bool LinkPacer::send(const QByteArray& bytes, const Writer& write)
{
    if (m_rate == 0)
        return write(bytes);
    const qint64 perByte = byteNs();
    // Timer wake-ups come late by tens of microseconds; the line would not have waited for them.
    const qint64 workNs = nowNs() - m_frameSeenNs;
    const qint64 start = std::max(m_frameEndNs + workNs, m_outputEndNs);
    const int chunk = int(std::max<qint64>(1, OutputChunkNs / perByte));
    for (int sent = 0; sent < bytes.size();) {
        const int end = std::min(sent + chunk, bytes.size());
        sleepUntilNs(start + end * perByte);
        if (!write(bytes.mid(sent, end - sent)))
            return false;
        sent = end;
    }
    m_outputEndNs = start + bytes.size() * perByte;
    return true;
}
