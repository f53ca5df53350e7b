#include "progressmessage.h"

#include <QCoreApplication>
#include <QVector>
#include <algorithm>
#include <iterator>

namespace {
constexpr const char* Context = "UpdateProgress";

struct Text
{
    ProgressId id;
    const char* english;
};

// One row per status, in the ids' order. Each %N takes a value; the values go to the placeholders in the
// order of their numbers, as QString::arg does, so that a translation may put them in another order.
constexpr Text Texts[] = {
    {ProgressId::EnteringBootloader, QT_TRANSLATE_NOOP("UpdateProgress", "Enter bootloader mode...")},
    {ProgressId::Disconnecting, QT_TRANSLATE_NOOP("UpdateProgress", "Disconnecting...")},
    {ProgressId::Reconnected, QT_TRANSLATE_NOOP("UpdateProgress", "Reconnected.")},
    {ProgressId::Canceled, QT_TRANSLATE_NOOP("UpdateProgress", "Firmware update canceled.")},
    {ProgressId::NoFirmware, QT_TRANSLATE_NOOP("UpdateProgress", "No firmware loaded: choose a HEX file first.")},
    {ProgressId::NoFirmwareBecause, QT_TRANSLATE_NOOP("UpdateProgress", "No firmware loaded: %1.")},
    {ProgressId::FileNotWritten, QT_TRANSLATE_NOOP("UpdateProgress", "%1; it is not written.")},
    {ProgressId::NotNewer, QT_TRANSLATE_NOOP("UpdateProgress", "The module's firmware %1 is not older than the file's %2: not written (only if newer).")},
    {ProgressId::UnexpectedSha256, QT_TRANSLATE_NOOP("UpdateProgress", "The file's SHA-256 %1 is not the one expected, %2: not written.")},
    {ProgressId::DetectionTimedOut, QT_TRANSLATE_NOOP("UpdateProgress", "Bootloader detection timed out: no bootloader answer within %1 s (%2 tries)")},
    {ProgressId::NotInBootloader, QT_TRANSLATE_NOOP("UpdateProgress", "Cannot switch module to bootloader mode!")},
    {ProgressId::ModuleMatches, QT_TRANSLATE_NOOP("UpdateProgress", "Module (%1) and Firmware (%2) are matching.")},
    {ProgressId::ModuleMismatch, QT_TRANSLATE_NOOP("UpdateProgress", "Module (%1) and Firmware (%2) do not match!")},
    {ProgressId::PageSizeUnread, QT_TRANSLATE_NOOP("UpdateProgress", "Could not read page size!")},
    {ProgressId::FlashBaseUnread, QT_TRANSLATE_NOOP("UpdateProgress", "Could not read flash base address!")},
    {ProgressId::BaseMismatch, QT_TRANSLATE_NOOP("UpdateProgress", "Hex file base address (0x%1) does not match with flash base address (0x%2)!")},
    {ProgressId::FlashBase, QT_TRANSLATE_NOOP("UpdateProgress", "Flash base address: 0x%1")},
    {ProgressId::FileTooLarge, QT_TRANSLATE_NOOP("UpdateProgress", "Memory size: %1 -> File too large!")},
    {ProgressId::ImplausiblePageSize, QT_TRANSLATE_NOOP("UpdateProgress", "Implausible page size: %1")},
    {ProgressId::ImplausibleMemorySize, QT_TRANSLATE_NOOP("UpdateProgress", "Implausible memory size: %1 above flash base address %2")},
    {ProgressId::ImplausibleFlashBase, QT_TRANSLATE_NOOP("UpdateProgress", "Implausible flash base address: %1 for %2 bytes")},
    {ProgressId::AlreadyHeld, QT_TRANSLATE_NOOP("UpdateProgress", "The module already holds this firmware (checksum 0x%1).")},
    {ProgressId::ComparingSums, QT_TRANSLATE_NOOP("UpdateProgress", "Comparing the module's page sums with the file's...")},
    {ProgressId::SumsUnread, QT_TRANSLATE_NOOP("UpdateProgress", "The module's sums could not be read.")},
    {ProgressId::AllPagesEqual, QT_TRANSLATE_NOOP("UpdateProgress", "The module holds this firmware: all %1 page sums equal the file's.")},
    {ProgressId::PagesDiffer, QT_TRANSLATE_NOOP("UpdateProgress", "%1 of %2 page sums differ from the file's, at %3.")},
    {ProgressId::ReadingBack, QT_TRANSLATE_NOOP("UpdateProgress", "Reading back 0x%1 to 0x%2 (%3 bytes), one checksum request a byte...")},
    {ProgressId::ReadBackSoFar, QT_TRANSLATE_NOOP("UpdateProgress", "Read back %1 of %2 bytes, %3:%4 to go")},
    {ProgressId::ReadBackFailed, QT_TRANSLATE_NOOP("UpdateProgress", "The module's flash could not be read back at 0x%1.")},
    {ProgressId::ReadBackDone, QT_TRANSLATE_NOOP("UpdateProgress", "Read back %1 bytes in %2 s (%3 checksum requests).")},
    {ProgressId::NoMemorySize, QT_TRANSLATE_NOOP("UpdateProgress", "The module did not state its memory size: name the range to read back.")},
    {ProgressId::RangeOutsideFlash, QT_TRANSLATE_NOOP("UpdateProgress", "The range 0x%1 to 0x%2 does not lie in the module's flash, which starts at 0x%3.")},
    {ProgressId::RangeOutsideFlashOfSize, QT_TRANSLATE_NOOP("UpdateProgress", "The range 0x%1 to 0x%2 does not lie in the module's flash, which starts at 0x%3 and holds %4 bytes.")},
    {ProgressId::Resuming, QT_TRANSLATE_NOOP("UpdateProgress", "Resuming at 0x%1: %2 of %3 bytes already in place")},
    {ProgressId::Erasing, QT_TRANSLATE_NOOP("UpdateProgress", "Erasing...")},
    {ProgressId::ErasingFinished, QT_TRANSLATE_NOOP("UpdateProgress", "Erasing finished.")},
    {ProgressId::Writing, QT_TRANSLATE_NOOP("UpdateProgress", "Writing %1 bytes...")},
    {ProgressId::WordUnwritten, QT_TRANSLATE_NOOP("UpdateProgress", "Programming error (1)")},
    {ProgressId::PageUnwritten, QT_TRANSLATE_NOOP("UpdateProgress", "Programming error (2)")},
    {ProgressId::VerifyingChecksum, QT_TRANSLATE_NOOP("UpdateProgress", "Verifying checksum...")},
    {ProgressId::ChecksumUnread, QT_TRANSLATE_NOOP("UpdateProgress", "Checksum read error!")},
    {ProgressId::ChecksumsSuit, QT_TRANSLATE_NOOP("UpdateProgress", "Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 suit each other.")},
    {ProgressId::ChecksumsDiffer, QT_TRANSLATE_NOOP("UpdateProgress", "Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 do not match!")},
    {ProgressId::WritingChecksum, QT_TRANSLATE_NOOP("UpdateProgress", "Writing checksum 0x%1")},
    {ProgressId::SizeUnsaved, QT_TRANSLATE_NOOP("UpdateProgress", "Error saving firmware size!")},
    {ProgressId::ChecksumUnsaved, QT_TRANSLATE_NOOP("UpdateProgress", "Error saving new checksum!")},
    {ProgressId::SizeWordUnwritten, QT_TRANSLATE_NOOP("UpdateProgress", "Error writing firmware size!")},
    {ProgressId::ChecksumWordUnwritten, QT_TRANSLATE_NOOP("UpdateProgress", "Error writing new check sum!")},
    {ProgressId::AttributePageUnsaved, QT_TRANSLATE_NOOP("UpdateProgress", "Error saving size and check sum!")},
    {ProgressId::Restarting, QT_TRANSLATE_NOOP("UpdateProgress", "Restarting module...")},
    {ProgressId::UpdateCompleted, QT_TRANSLATE_NOOP("UpdateProgress", "Update completed. Restarted module with firmware version \"%1\".")},
    {ProgressId::ReconnectionFailed, QT_TRANSLATE_NOOP("UpdateProgress", "Reconnection failed.")},
    // What a message made without a status (the meta-type system's) says: nothing.
    {ProgressId::Count, ""},
};

constexpr bool oneTextPerIdInOrder()
{
    if (std::size(Texts) != std::size_t(ProgressId::Count) + 1)
        return false;
    for (std::size_t i = 0; i < std::size(Texts); ++i) {
        if (std::size_t(Texts[i].id) != i)
            return false;
    }
    return true;
}
static_assert(oneTextPerIdInOrder(), "every progress id has its English text, in the ids' order");

bool isPlaceholder(const QString& pattern, int at)
{
    return pattern.at(at) == QLatin1Char('%') && at + 1 < pattern.size() && pattern.at(at + 1).isDigit();
}

// The values are put in once: a value that holds "%1" (a module's answer may) stays as it is.
QString filledIn(const QString& pattern, const QStringList& values)
{
    QVector<int> numbers;
    for (int at = 0; at < pattern.size(); ++at) {
        if (isPlaceholder(pattern, at) && !numbers.contains(pattern.at(at + 1).digitValue()))
            numbers.append(pattern.at(at + 1).digitValue());
    }
    std::sort(numbers.begin(), numbers.end());
    QString text;
    for (int at = 0; at < pattern.size(); ++at) {
        const int value = isPlaceholder(pattern, at) ? numbers.indexOf(pattern.at(at + 1).digitValue()) : -1;
        if (value >= 0 && value < values.size()) {
            text += values.at(value);
            ++at;
        } else {
            text += pattern.at(at);
        }
    }
    return text;
}
}

ProgressMessage::ProgressMessage(ProgressId id, const QStringList& values)
    : m_id(id)
    , m_values(values)
{
}

QString ProgressMessage::english() const
{
    return filledIn(QLatin1String(Texts[int(m_id)].english), m_values);
}

QString ProgressMessage::translated() const
{
    return filledIn(QCoreApplication::translate(Context, Texts[int(m_id)].english), m_values);
}
