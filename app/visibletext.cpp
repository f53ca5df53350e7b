#include "visibletext.h"

#include <algorithm>

namespace {
// C0 controls, DEL and the C1 controls, which some terminals take as escape sequences too.
constexpr ushort LastC0Control = 0x1f;
constexpr ushort Delete = 0x7f;
constexpr ushort LastC1Control = 0x9f;
constexpr int HexDigits = 2;
constexpr int Hexadecimal = 16;

bool isControl(ushort code)
{
    return code <= LastC0Control || (code >= Delete && code <= LastC1Control);
}
}

QString visibleText(const QString& text)
{
    // Most texts hold nothing to escape: they are shared, not copied (--history prints 100,000 rows).
    if (std::none_of(text.begin(), text.end(),
                     [](QChar c) { return c == QLatin1Char('\\') || isControl(c.unicode()); }))
        return text;
    QString visible;
    visible.reserve(text.size());
    for (const QChar character : text) {
        const ushort code = character.unicode();
        if (character == QLatin1Char('\\'))
            visible += QLatin1String("\\\\");
        else if (isControl(code))
            visible += QStringLiteral("\\x%1").arg(code, HexDigits, Hexadecimal, QLatin1Char('0'));
        else
            visible += character;
    }
    return visible;
}
