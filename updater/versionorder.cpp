#include "versionorder.h"

#include "intelhexparser.h"
#include "versiontext.h"

#include <cstring>

namespace {
constexpr char AnyDigit = '#';
constexpr char Dot = '.';
constexpr char FirmwareLetters[] = "VC";
// The type of "C###V###" and "C###C###" begins with this letter, which is no version letter.
constexpr int TypeLetterSearchStart = 1;
}

int VersionOrder::releaseOf(const QString& identifier, QString* type)
{
    const QByteArray text = identifier.toLatin1();
    for (const char* pattern : IntelHex::IdentifierPatterns) {
        const int length = int(std::strlen(pattern));
        if (text.size() != length)
            continue;
        bool matches = true;
        for (int i = 0; i < length && matches; ++i) {
            const char c = text.at(i);
            matches = pattern[i] == AnyDigit ? (c >= '0' && c <= '9') : c == pattern[i];
        }
        if (!matches)
            continue;
        int letter = TypeLetterSearchStart;
        while (!std::strchr(FirmwareLetters, pattern[letter]))
            ++letter;
        if (type)
            *type = identifier.left(letter);
        return identifier.mid(letter + 1).remove(QLatin1Char(Dot)).toInt();
    }
    return -1;
}

VersionOrder::Verdict VersionOrder::fileAgainstModule(const QString& fileIdentifier, const QString& moduleVersion)
{
    if (VersionText::modeOf(moduleVersion) == VersionText::Mode::Bootloader)
        return Verdict::Newer;
    QString fileType;
    QString moduleType;
    const int file = releaseOf(fileIdentifier, &fileType);
    const int module = releaseOf(moduleVersion, &moduleType);
    if (file < 0 || module < 0 || fileType != moduleType)
        return Verdict::Unknown;
    return file > module ? Verdict::Newer : Verdict::NotNewer;
}
