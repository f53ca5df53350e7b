#include "versiontext.h"

namespace {
// Shorter answers are no version of ours.
constexpr int MinVersionTestChars = 7;
}

bool VersionText::isPlausible(const QString& text)
{
    if (text.size() > MaxChars)
        return false;
    for (const QChar c : text) {
        if (!c.isPrint())
            return false;
    }
    return true;
}

bool VersionText::passesVersionTest(const QString& text)
{
    if (text.size() < MinVersionTestChars || !isPlausible(text))
        return false;
    for (const QChar c : text) {
        const ushort code = c.unicode();
        const bool allowed = (code >= '0' && code <= '9') || code == 'B' || code == 'b' || code == 'V' || code == 'v'
            || code == '.' || code == 'C' || code > 255;
        if (!allowed)
            return false;
    }
    return true;
}

bool VersionText::isBootloaderAnswer(const QString& text)
{
    const int mark = text.indexOf(QLatin1Char('B'));
    return mark >= 0 && mark <= MaxModuleTypeLength;
}

bool VersionText::namesBootloader(const QString& text)
{
    return text.contains(QLatin1Char('b'), Qt::CaseInsensitive);
}

bool VersionText::namesFirmware(const QString& text)
{
    return text.contains(QLatin1Char('v'), Qt::CaseInsensitive);
}

VersionText::Mode VersionText::modeOf(const QString& text)
{
    if (text.isEmpty() || !isPlausible(text))
        return Mode::Unknown;
    if (passesVersionTest(text) && namesBootloader(text))
        return Mode::Bootloader;
    return Mode::Firmware;
}
