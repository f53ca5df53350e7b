#include "simflash.h"

#include "bootloadercommands.h"
#include "firmwareimage.h"
#include "intelhexparser.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr unsigned char ErasedByte = 0xFF;
constexpr const char* NoneText = "none";

// Reads the value of the line "NAME VALUE" (VALUE "none" or a number); false when the line is another.
bool readAttribute(const QByteArray& line, const QByteArray& name, bool* stored, quint32* value)
{
    const QList<QByteArray> parts = line.trimmed().split(' ');
    if (parts.size() != 2 || parts.at(0) != name)
        return false;
    *stored = parts.at(1) != NoneText;
    bool ok = !*stored;
    if (*stored)
        *value = parts.at(1).toUInt(&ok, 0);
    return ok;
}
}

SimFlash SimFlash::read(const QString& path)
{
    SimFlash flash;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        flash.m_error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return flash;
    }
    quint32 size = 0;
    const bool header = readAttribute(file.readLine(), "size", &flash.m_hasStoredSize, &size)
        && readAttribute(file.readLine(), "checksum", &flash.m_hasStoredChecksum, &flash.m_storedChecksum);
    flash.m_storedSize = int(size);
    const QByteArray mode = file.readLine().trimmed();
    flash.m_inFirmware = mode == "mode firmware";
    if (!header || (!flash.m_inFirmware && mode != "mode bootloader")) {
        flash.m_error = QStringLiteral("%1 does not begin with the size, checksum and mode lines").arg(path);
        return flash;
    }
    const QByteArray hex = file.readAll();
    qint64 at = 0;
    std::vector<unsigned char> image(IntelHex::ImageSize);
    const IntelHex::ReadResult result = IntelHex::read(
        [&hex, &at](char* buffer, std::int64_t capacity) {
            const qint64 bytes = std::min<qint64>(capacity, hex.size() - at);
            std::memcpy(buffer, hex.constData() + at, size_t(bytes));
            at += bytes;
            return std::int64_t(bytes);
        },
        image.data());
    if (result.status != IntelHex::ReadResult::Complete || result.isCutShort()) {
        flash.m_error = QStringLiteral("%1 holds no whole flash (line %2)").arg(path).arg(result.line);
        return flash;
    }
    flash.m_base = quint32(result.ARMFlashAddress + result.progStart);
    flash.m_bytes = QByteArray(reinterpret_cast<const char*>(image.data()) + result.progStart, result.programSize);
    flash.m_error.clear();
    return flash;
}

QString SimFlash::differenceFrom(const QString& path) const
{
    const FirmwareImage image = FirmwareImage::load(path);
    if (image.verdict() != FirmwareImage::Verdict::Loaded)
        return image.problem();
    const quint32 programAt = quint32(image.armFlashAddress() + image.start());
    // The update writes whole words; the image is zero past the program.
    const int written = (image.size() + Bootloader::WordBytes - 1) / Bootloader::WordBytes * Bootloader::WordBytes;
    for (int i = 0; i < m_bytes.size(); ++i) {
        const quint32 address = m_base + quint32(i);
        const qint64 offset = qint64(address) - qint64(programAt);
        unsigned char expected = ErasedByte;
        if (offset >= 0 && offset < written)
            expected = image.start() + offset < IntelHex::ImageSize ? image.bytes()[image.start() + offset] : 0;
        if (quint8(m_bytes.at(i)) != expected)
            return QStringLiteral("the flash differs from %1 first at 0x%2: 0x%3, not 0x%4")
                .arg(path)
                .arg(address, 0, 16)
                .arg(quint8(m_bytes.at(i)), 2, 16, QLatin1Char('0'))
                .arg(expected, 2, 16, QLatin1Char('0'));
    }
    if (qint64(programAt) + written > qint64(m_base) + m_bytes.size() || programAt < m_base)
        return QStringLiteral("%1 does not fit in the flash").arg(path);
    return QString();
}

QString SimFlash::storedDifferenceFrom(const QString& path) const
{
    const FirmwareImage image = FirmwareImage::load(path);
    if (m_hasStoredSize && m_storedSize == image.size() && m_hasStoredChecksum
        && m_storedChecksum == quint32(image.checksum()))
        return QString();
    const auto stored = [](bool has, const QString& value) { return has ? value : QStringLiteral("none"); };
    return QStringLiteral("the module stored size %1 and checksum %2, not %3 and 0x%4 of %5")
        .arg(stored(m_hasStoredSize, QString::number(m_storedSize)),
             stored(m_hasStoredChecksum, QStringLiteral("0x") + QString::number(m_storedChecksum, 16)))
        .arg(image.size())
        .arg(quint32(image.checksum()), 0, 16)
        .arg(path);
}
