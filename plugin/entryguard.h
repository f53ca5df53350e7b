#pragma once

#include "progressmessage.h"

#include <QString>
#include <optional>

class FirmwareImage;
struct RunOptions;

// Why an update must not go on to the bootloader, none when it may: no program, a file cut short,
// firmware of another module type than the one the module runs, or a guard of the host's options.
class EntryGuard
{
public:
    // `version`: what the module answered; `chosenFile`: the file the image was read from.
    static std::optional<ProgressMessage> refusal(const FirmwareImage& image, const QString& chosenFile,
                                                  const RunOptions& options, const QString& version);
};
