#include "linkpacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>

namespace {
constexpr qint64 NsPerSecond = 1000000000;
constexpr int BitsPerByte = 10; // start bit, 8 data bits, stop bit
// Bytes leave in chunks of about this much wire time: finer would cost a wake-up of the host per byte.
constexpr qint64 OutputChunkNs = 1000000;
// The timer margin rises quickly when a wake-up comes later than it and sinks slowly otherwise, so that
// it stays near the late end of the wake-ups and the spin after them stays short.
constexpr qint64 MarginRiseDivisor = 4;
constexpr qint64 MarginSinkDivisor = 32;
// A wake-up later than this waited for a CPU: spinning earlier would not have helped.
constexpr qint64 MaxWakeMarginNs = 150000;
// A host that sends its next request later than this after a reply paused on purpose.
constexpr qint64 HostPauseNs = 20000000;
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

void LinkPacer::watchInput(int descriptor, Reader read)
{
    m_inputDescriptor = descriptor;
    m_readInput = std::move(read);
}

void LinkPacer::sleepReadingUntilNs(qint64 deadlineNs)
{
    pollfd input{m_inputDescriptor, POLLIN, 0};
    for (qint64 left = deadlineNs - nowNs(); left > 0 && m_inputDescriptor >= 0; left = deadlineNs - nowNs()) {
        const timespec timeout{time_t(left / NsPerSecond), long(left % NsPerSecond)};
        const int ready = ::ppoll(&input, 1, &timeout, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        // A hang-up (no host on the other side) would wake every poll at once.
        if (ready <= 0 || (input.revents & (POLLHUP | POLLERR | POLLNVAL)) || !(input.revents & POLLIN))
            break;
        m_readInput();
    }
    sleepUntilNs(deadlineNs);
}

void LinkPacer::waitUntilNs(qint64 deadlineNs)
{
    const qint64 alarmNs = deadlineNs - m_wakeMarginNs;
    if (nowNs() >= alarmNs)
        return;
    sleepReadingUntilNs(alarmNs);
    const qint64 lateNs = std::min(nowNs() - alarmNs, MaxWakeMarginNs);
    m_wakeMarginNs += lateNs > m_wakeMarginNs ? (lateNs - m_wakeMarginNs) / MarginRiseDivisor
                                              : (lateNs - m_wakeMarginNs) / MarginSinkDivisor;
    while (nowNs() < deadlineNs) {
    }
}

void LinkPacer::noteReceived(int bytes, qint64 readNs)
{
    if (m_rate == 0)
        return;
    if (m_lastWriteNs > 0 && readNs - m_lastWriteNs < HostPauseNs) {
        ++m_account.turnarounds;
        m_account.turnaroundNs += readNs - m_lastWriteNs;
    }
    m_lastWriteNs = 0;
    // The host wrote these bytes at once; on a real line they follow each other from now on (or from
    // the end of the bytes still under way).
    m_inputEndNs = std::max(readNs, m_inputEndNs) + bytes * byteNs();
}

void LinkPacer::takeFrame(int bytesAfterFrame)
{
    if (m_rate == 0)
        return;
    m_frameEndNs = m_inputEndNs - bytesAfterFrame * byteNs();
    m_frameTakenNs = nowNs();
}

bool LinkPacer::send(const QByteArray& bytes, const Writer& write)
{
    const qint64 workNs = nowNs() - m_frameTakenNs;
    return sendAt(m_frameEndNs + workNs, bytes, write);
}

bool LinkPacer::sendAt(qint64 atNs, const QByteArray& bytes, const Writer& write)
{
    if (m_rate == 0)
        return write(bytes);
    const qint64 perByte = byteNs();
    const qint64 start = std::max(atNs, m_outputEndNs);
    const int chunk = int(std::max<qint64>(1, OutputChunkNs / perByte));
    for (int sent = 0; sent < bytes.size();) {
        const int end = std::min(sent + chunk, bytes.size());
        waitUntilNs(start + end * perByte);
        if (!write(bytes.mid(sent, end - sent)))
            return false;
        sent = end;
    }
    m_outputEndNs = start + bytes.size() * perByte;
    m_lastWriteNs = nowNs();
    ++m_account.replies;
    m_account.latenessNs += std::max<qint64>(0, m_lastWriteNs - m_outputEndNs);
    return true;
}
