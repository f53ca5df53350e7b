#include "entryguard.h"

#include "firmwareimage.h"
#include "firmwarematch.h"
#include "recordwriter.h"
#include "runoptions.h"
#include "versionorder.h"
#include "versiontext.h"

std::optional<ProgressMessage> EntryGuard::refusal(const FirmwareImage& image, const QString& chosenFile,
                                                   const RunOptions& options, const QString& version)
{
    if (image.size() == 0) {
        return image.problem().isEmpty() ? ProgressMessage(ProgressId::NoFirmware)
                                         : ProgressMessage(ProgressId::NoFirmwareBecause, {image.problem()});
    }
    if (!image.problem().isEmpty())
        return ProgressMessage(ProgressId::FileNotWritten, {image.problem()});
    // A module in its bootloader is checked by the worker, which reads the bootloader's own answer.
    if (!version.isEmpty() && !VersionText::namesBootloader(version) && !FirmwareMatch::suits(version, image.identifier()))
        return FirmwareMatch::verdict(version, image.identifier(), false);
    if (options.ifNewer && VersionOrder::fileAgainstModule(image.identifier(), version) != VersionOrder::Verdict::Newer)
        return ProgressMessage(ProgressId::NotNewer, {FirmwareMatch::printable(version), image.identifier()});
    const QString expected = options.expectedSha256.toLower();
    const QString sha256 = expected.isEmpty() ? QString() : RecordWriter::fileSha256(chosenFile);
    if (sha256 != expected)
        return ProgressMessage(ProgressId::UnexpectedSha256, {sha256, expected});
    return std::nullopt;
}
