#pragma once

#include <QByteArray>
#include <QString>

// What dux-sim wrote of its module's flash with --flash-out: the bytes from the flash base on, and the
// size and checksum its bootloader stored. Judges an update by what the module holds, not by what the
// tool says of it.
class SimFlash
{
public:
    // Reads the file dux-sim wrote; isValid() is false, and error() says why, when it cannot.
    static SimFlash read(const QString& path);

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    quint32 base() const { return m_base; }
    QByteArray bytes() const { return m_bytes; }
    bool hasStoredSize() const { return m_hasStoredSize; }
    int storedSize() const { return m_storedSize; }
    bool hasStoredChecksum() const { return m_hasStoredChecksum; }
    quint32 storedChecksum() const { return m_storedChecksum; }
    // The module ran its firmware when the flash was written (else its bootloader).
    bool inFirmware() const { return m_inFirmware; }

    // Empty when the flash holds the firmware file at `path` as an update writes it: its program bytes
    // at their addresses, the zero bytes that fill its last flash word, and every other byte erased
    // (0xFF). Otherwise the first address that differs, with both bytes.
    QString differenceFrom(const QString& path) const;
    // Empty when the bootloader stored the program size and checksum of the firmware file at `path`,
    // as an update's last step does; otherwise what it stored.
    QString storedDifferenceFrom(const QString& path) const;

private:
    QString m_error = QStringLiteral("not read");
    quint32 m_base = 0;
    QByteArray m_bytes;
    bool m_hasStoredSize = false;
    int m_storedSize = 0;
    bool m_hasStoredChecksum = false;
    quint32 m_storedChecksum = 0;
    bool m_inFirmware = false;
};
