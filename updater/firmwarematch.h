#pragma once

#include "progressmessage.h"

#include <QString>

// Whether a firmware file suits a module, and the texts that say so. The run checks the bootloader's
// answer; the tool checks the running firmware's before it sends the module to its bootloader.
namespace FirmwareMatch {

// The module's version text (firmware or bootloader) against the file's identifier; modules of the
// unchecked type always suit.
bool suits(const QString& moduleVersion, const QString& fileVersion);
// "Module (…) and Firmware (…) do not match!" or "… are matching.", as plain text (the module's
// part printable); escape it for the history.
ProgressMessage verdict(const QString& moduleVersion, const QString& fileVersion, bool suit);

// Text that comes from a module without its control characters, which would rewrite or split the line
// a terminal shows it in. The history takes it HTML-escaped, so that markup from a module stays text.
QString printable(const QString& text);

}
