#include "ptyport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int ReadChunkBytes = 4096;
// Room for the slave's device path, which openpty writes without being told the size.
constexpr int DevicePathBytes = 256;
}

PtyPort::~PtyPort()
{
    close();
}

bool PtyPort::open()
{
    close();
    char name[DevicePathBytes] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        setSystemError("openpty");
        return false;
    }
    // Raw from the start: until the host configures the port, the line discipline must neither echo
    // nor translate what passes.
    termios settings{};
    if (::tcgetattr(m_slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(m_slave, TCSANOW, &settings);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_devicePath = QString::fromLocal8Bit(name);
    return true;
}

void PtyPort::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_master = m_slave = -1;
    m_devicePath.clear();
}

bool PtyPort::readAvailable(QByteArray* bytes)
{
    char buffer[ReadChunkBytes];
    for (;;) {
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got > 0) {
            bytes->append(buffer, int(got));
            // A short read took all there was; asking again would only cost a system call per request.
            if (got < ssize_t(sizeof buffer))
                return true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        setSystemError("read");
        return false;
    }
}

int PtyPort::writeSome(const char* data, int size)
{
    for (;;) {
        const ssize_t put = ::write(m_master, data, size_t(size));
        if (put >= 0)
            return int(put);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR) {
            setSystemError("write");
            return -1;
        }
    }
}

bool PtyPort::writeAll(const QByteArray& bytes, int timeoutMs)
{
    int done = 0;
    while (done < bytes.size()) {
        const int put = writeSome(bytes.constData() + done, bytes.size() - done);
        if (put < 0)
            return false;
        done += put;
        if (put > 0)
            continue;
        pollfd room{m_master, POLLOUT, 0};
        if (::poll(&room, 1, timeoutMs) <= 0) {
            m_errorString = QStringLiteral("write: the host does not read");
            return false;
        }
    }
    return true;
}

void PtyPort::setSystemError(const char* what)
{
    m_errorString = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
