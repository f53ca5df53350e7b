#include "firmwarematch.h"

#include "basictools.h"
#include "protocolfacts.h"

namespace FirmwareMatch {

bool suits(const QString& moduleVersion, const QString& fileVersion)
{
    return moduleVersion.startsWith(QLatin1String(Protocol::UncheckedModulePrefix))
        || !BasicTools::matchFirmwareVersion(moduleVersion, fileVersion, 0).isEmpty();
}

ProgressMessage verdict(const QString& moduleVersion, const QString& fileVersion, bool suit)
{
    return ProgressMessage(suit ? ProgressId::ModuleMatches : ProgressId::ModuleMismatch,
                           {printable(moduleVersion), fileVersion});
}

QString printable(const QString& text)
{
    QString plain;
    plain.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control && c != QChar::LineSeparator && c != QChar::ParagraphSeparator)
            plain.append(c);
    }
    return plain;
}

}
