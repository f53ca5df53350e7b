#pragma once

#include <QByteArray>
#include <QString>

// One pseudo-terminal pair: the simulator reads and writes the master side, the host opens the device
// path of the slave side as if it were a serial port.
class PtyPort
{
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool open();
    void close();
    bool isOpen() const { return m_master >= 0; }

    int masterDescriptor() const { return m_master; }
    QString devicePath() const { return m_devicePath; }
    QString errorString() const { return m_errorString; }

    // What can be read now without waiting (more may come with the next notification); false when the
    // master side failed.
    bool readAvailable(QByteArray* bytes);
    // Writes what fits now of the `size` bytes at `data`: how many went, 0 when there is no room, -1 when
    // the master side failed.
    int writeSome(const char* data, int size);
    // Writes all of `bytes`, waiting up to `timeoutMs` for room when the host does not read.
    bool writeAll(const QByteArray& bytes, int timeoutMs);

private:
    void setSystemError(const char* what);

    int m_master = -1;
    // Held open for the life of the pair: while no process has the slave open, reads on the master
    // fail with EIO, and the host opens the path only after we have announced it.
    int m_slave = -1;
    QString m_devicePath;
    QString m_errorString;
};
