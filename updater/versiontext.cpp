#include "versiontext.h"

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

bool VersionText::isBootloaderAnswer(const QString& text)
{
    const int mark = text.indexOf(QLatin1Char('B'));
    return mark >= 0 && mark <= MaxModuleTypeLength;
}
