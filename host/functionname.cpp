#include "functionname.h"

QString shortFunctionName(const char* signature)
{
    const QString text = QString::fromLatin1(signature);
    const int scope = text.indexOf(QLatin1String("::"));
    const int start = scope < 0 ? 0 : text.lastIndexOf(QLatin1Char(' '), scope) + 1;
    const int end = text.lastIndexOf(QLatin1Char('('));
    if (end < start)
        return text.mid(start) + QLatin1String("()");
    return text.mid(start, end - start) + QLatin1String("()");
}
