#pragma once

#include <QString>

// What a module's version answer can be: a short printable text. Junk on the line (control
// characters, NULs, a full reply of noise) is no version, whatever its letters.
class VersionText
{
public:
    // Longer than any version a module of ours states ("1234V1.20" and the like).
    static constexpr int MaxChars = 16;
    // The part of a bootloader's answer before its 'B' names the module type, at most this long.
    static constexpr int MaxModuleTypeLength = 4;

    // What a module that gave an answer runs; Unknown when it gave none, or junk.
    enum class Mode { Unknown, Firmware, Bootloader };

    // Printable and no longer than MaxChars.
    static bool isPlausible(const QString& text);
    // The version-string test: plausible, longer than six characters, and only digits, 'B', 'b', 'V',
    // 'v', '.', 'C' or characters above 255.
    static bool passesVersionTest(const QString& text);
    // A bootloader's answer ("1234B101"), not a firmware's.
    static bool isBootloaderAnswer(const QString& text);
    // The host's rule, a 'b' in either case marks a bootloader, for answers that pass the version
    // test; any other plausible answer is a firmware's (one that answers "<b>1.0</b>", say).
    static Mode modeOf(const QString& text);
};
