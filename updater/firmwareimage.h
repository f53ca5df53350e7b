#pragma once

#include "hexfile.h"

#include <QByteArray>
#include <QString>

// One firmware file as an update writes it: the program image with its start, size, checksum and
// identifier, the addresses the file gave, and the loader's verdict. A value: copies share the bytes,
// so the worker keeps the image it was handed even when the form loads another file meanwhile.
class FirmwareImage
{
public:
    using Verdict = IntelHex::FileLoad::Verdict;

    // No file: no bytes, no program.
    FirmwareImage() = default;
    // Reads the HEX file; see IntelHex::loadFile.
    static FirmwareImage load(const QString& fileName);

    // The same identifier and checksum with no program to write (size and addresses 0); `problem`
    // says why it is not written (empty: no file was chosen).
    FirmwareImage withoutProgram(const QString& problem) const;

    // IntelHex::ImageSize bytes; null when no file was loaded.
    const unsigned char* bytes() const;
    // Image offset of the first program byte, program bytes from there (even), and their byte sum.
    int start() const { return m_load.read.progStart; }
    int size() const { return m_load.read.programSize; }
    int checksum() const { return m_load.read.checksum; }
    // Empty when the file holds none or was not read to its end.
    QString identifier() const { return QString::fromStdString(m_load.identifier); }
    int segmentAddress() const { return m_load.read.segmentAddress; }
    int extendedLinearAddress() const { return m_load.read.extendedLinearAddress; }
    // The flash base the file's linear addresses carried; added to start() it is where the program goes.
    int armFlashAddress() const { return m_load.read.ARMFlashAddress; }

    Verdict verdict() const { return m_load.verdict; }
    // What the reader left behind: its status and the line that ended reading.
    const IntelHex::ReadResult& reading() const { return m_load.read; }
    bool wasOpened() const { return m_load.wasOpened(); }
    // Why this is not firmware to write, beginning with the file name; empty when it is.
    QString problem() const { return m_problem; }
    // What the user should know of a file that is written all the same (records that overlap); empty
    // when nothing.
    QString warning() const { return m_warning; }

private:
    QByteArray m_bytes;
    IntelHex::FileLoad m_load;
    QString m_problem;
    QString m_warning;
};
