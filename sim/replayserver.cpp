#include "replayserver.h"

#include "linkpacer.h"
#include "portlistfile.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <sys/timerfd.h>
#include <unistd.h>

namespace {
// How long a reply may wait for room on the line before the host counts as gone.
constexpr int WriteTimeoutMs = 1000;
constexpr qint64 NsPerUs = 1000;
constexpr qint64 NsPerSecond = 1000000000;
}

ReplayServer::ReplayServer(const CaptureReplay& replay, QObject* parent)
    : QObject(parent)
    , m_replay(replay)
{
}

ReplayServer::~ReplayServer()
{
    stop();
}

void ReplayServer::setUnpaced(bool unpaced)
{
    m_unpaced = unpaced;
}

void ReplayServer::setPortListFile(const QString& path)
{
    m_portListFile = path;
}

bool ReplayServer::start()
{
    m_dueTimer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_dueTimer < 0 || !m_port.open()) {
        m_errorString = m_dueTimer < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : m_port.errorString();
        return false;
    }
    m_dueNotifier = std::make_unique<QSocketNotifier>(m_dueTimer, QSocketNotifier::Read);
    connect(m_dueNotifier.get(), &QSocketNotifier::activated, this, [this] {
        quint64 expirations = 0;
        if (::read(m_dueTimer, &expirations, sizeof expirations) == sizeof expirations)
            sendDue();
    });
    m_notifier = std::make_unique<QSocketNotifier>(m_port.masterDescriptor(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ReplayServer::readRequests);
    if (!m_portListFile.isEmpty()
        && !PortListFile::write(m_portListFile, {{m_replay.port(), m_port.devicePath(), false}})) {
        m_errorString = tr("cannot write the port list %1").arg(m_portListFile);
        return false;
    }
    return true;
}

void ReplayServer::stop()
{
    m_notifier.reset();
    m_dueNotifier.reset();
    if (m_dueTimer >= 0)
        ::close(m_dueTimer);
    m_dueTimer = -1;
    m_due.clear();
    if (!m_portListFile.isEmpty() && m_port.isOpen())
        PortListFile::write(m_portListFile, {});
    m_port.close();
}

void ReplayServer::readRequests()
{
    QByteArray bytes;
    if (!m_port.readAvailable(&bytes)) {
        m_notifier.reset();
        emit failed(m_port.errorString());
        return;
    }
    const qint64 receivedNs = LinkPacer::nowNs();
    m_decoder.append(bytes);
    DuxlFrame request;
    for (DuxlFrameDecoder::Result result; (result = m_decoder.next(&request)) != DuxlFrameDecoder::Result::NeedMore;) {
        if (result != DuxlFrameDecoder::Result::Frame || m_replay.hasDeparted())
            continue;
        const QList<CaptureReplay::Reply> replies = m_replay.answer(request);
        if (m_replay.hasDeparted()) {
            emit departed(m_replay.departure());
            continue;
        }
        for (const CaptureReplay::Reply& reply : replies) {
            if (m_unpaced && !transmit(reply.frame))
                return;
            if (!m_unpaced)
                m_due.append({receivedNs + reply.delayUs * NsPerUs, reply.frame});
        }
    }
    sendDue();
}

void ReplayServer::sendDue()
{
    // First in, first out: a reply due sooner than the one before it (the later request of a window
    // that came in the same read) waits for it, as it came after it in the capture.
    const qint64 nowNs = LinkPacer::nowNs();
    while (!m_due.isEmpty() && m_due.constFirst().first <= nowNs) {
        if (!transmit(m_due.takeFirst().second))
            return;
    }
    armDueTimer();
}

void ReplayServer::armDueTimer()
{
    // All zero disarms it; an absolute time already past fires at once.
    itimerspec due{};
    if (!m_due.isEmpty()) {
        due.it_value.tv_sec = time_t(m_due.constFirst().first / NsPerSecond);
        due.it_value.tv_nsec = long(m_due.constFirst().first % NsPerSecond);
    }
    ::timerfd_settime(m_dueTimer, TFD_TIMER_ABSTIME, &due, nullptr);
}

bool ReplayServer::transmit(const QByteArray& bytes)
{
    if (m_port.writeAll(bytes, WriteTimeoutMs))
        return true;
    m_errorString = m_port.errorString();
    emit failed(m_errorString);
    return false;
}
