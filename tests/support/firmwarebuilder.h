#pragma once

#include "intelhexparser.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

// Firmware files for tests, written by the product's own HEX writer: bytes that hold no digit, so that
// the identifier scan finds exactly the identifier put in.
namespace FirmwareBuilder {
constexpr int IdentifierOffset = 0x100;
constexpr quint32 FlashBase = 0x08000000;
constexpr int FirmwareBytes = 0x400;

// `size` bytes with `identifier` at `offset` (none when empty).
inline QByteArray firmwareImage(const QByteArray& identifier, int size = FirmwareBytes, int offset = IdentifierOffset)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(0x80 + i % 0x7F);
    if (!identifier.isEmpty())
        image.replace(offset, identifier.size(), identifier);
    return image;
}

inline QByteArray hexOf(const QByteArray& image, quint32 base = FlashBase,
                        IntelHex::AddressStyle style = IntelHex::AddressStyle::Linear)
{
    return QByteArray::fromStdString(
        IntelHex::write(reinterpret_cast<const unsigned char*>(image.constData()), image.size(), base, style));
}

inline QByteArray firmwareHex(const QByteArray& identifier)
{
    return hexOf(firmwareImage(identifier));
}

// Writes `content` to `path`, making its folder; stops the test program when it cannot.
inline QString writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The byte sum as the form shows it.
inline QString checksumText(const QByteArray& bytes)
{
    quint32 sum = 0;
    for (const char b : bytes)
        sum += static_cast<unsigned char>(b);
    return QStringLiteral("0x") + QString::number(sum, 16);
}

// A FIFO that nobody writes to: a reader that opens it waits for a writer. From GraceMs on a writer
// comes by until this object goes, so that such a reader ends late instead of hanging the test.
class UnwrittenFifo
{
public:
    static constexpr int GraceMs = 1500;
    static constexpr int PollMs = 10;
    explicit UnwrittenFifo(const QString& path)
        : m_path(QFile::encodeName(path).toStdString())
        , m_valid(::mkfifo(m_path.c_str(), 0600) == 0)
        , m_writer([this] {
            for (int waited = 0; !m_done; waited += PollMs) {
                const int descriptor = waited >= GraceMs ? ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK) : -1;
                if (descriptor >= 0)
                    ::close(descriptor);
                std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
            }
        })
    {
    }
    ~UnwrittenFifo()
    {
        m_done = true;
        m_writer.join();
    }
    bool isValid() const { return m_valid; }

private:
    const std::string m_path;
    const bool m_valid;
    std::atomic<bool> m_done{false};
    std::thread m_writer;
};
}
