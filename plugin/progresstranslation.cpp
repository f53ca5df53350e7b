#include "progresstranslation.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QVector>

namespace {
constexpr const char* Context = "UpdateProgress";

const char* const Patterns[] = {
    QT_TRANSLATE_NOOP("UpdateProgress", "Enter bootloader mode..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Disconnecting..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Reconnected."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Firmware update canceled."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Cannot switch module to bootloader mode!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Module (%1) and Firmware (%2) are matching."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Module (%1) and Firmware (%2) do not match!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Could not read page size!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Could not read flash base address!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Hex file base address (0x%1) does not match with flash base address (0x%2)!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Flash base address: 0x%1"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Memory size: %1 -> File too large!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Implausible page size: %1"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Implausible memory size: %1 above flash base address %2"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Implausible flash base address: %1 for %2 bytes"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Erasing..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Erasing finished."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Writing %1 bytes..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Programming error (1)"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Programming error (2)"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Verifying checksum..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Checksum read error!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 suit each other."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%2 do not match!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Writing checksum 0x%1"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Error saving firmware size!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Error saving new checksum!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Error writing firmware size!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Error writing new check sum!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Error saving size and check sum!"),
    QT_TRANSLATE_NOOP("UpdateProgress", "Restarting module..."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Update completed. Restarted module with firmware version \"%1\"."),
    QT_TRANSLATE_NOOP("UpdateProgress", "Reconnection failed."),
    QT_TRANSLATE_NOOP("UpdateProgress", "No firmware loaded: choose a HEX file first."),
    QT_TRANSLATE_NOOP("UpdateProgress", "The module's firmware %1 is not older than the file's %2: not written (only if newer)."),
    QT_TRANSLATE_NOOP("UpdateProgress", "The file's SHA-256 %1 is not the one expected, %2: not written."),
};

struct Matcher
{
    const char* pattern;
    QRegularExpression expression;
};

// One expression per pattern: the pattern's text literally, each %N a captured value.
QVector<Matcher> makeMatchers()
{
    QVector<Matcher> matchers;
    for (const char* pattern : Patterns) {
        QString expression = QRegularExpression::escape(QLatin1String(pattern));
        expression.replace(QRegularExpression(QStringLiteral("\\\\?%\\d")), QStringLiteral("(.*)"));
        matchers.append({pattern, QRegularExpression(QLatin1Char('^') + expression + QLatin1Char('$'))});
    }
    return matchers;
}
}

QString ProgressTranslation::translated(const QString& text)
{
    static const QVector<Matcher> matchers = makeMatchers();
    for (const Matcher& matcher : matchers) {
        const QRegularExpressionMatch match = matcher.expression.match(text);
        if (!match.hasMatch())
            continue;
        QString result = QCoreApplication::translate(Context, matcher.pattern);
        for (int value = 1; value <= match.lastCapturedIndex(); ++value)
            result = result.arg(match.captured(value));
        return result;
    }
    return text;
}
