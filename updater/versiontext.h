#pragma once

#include <QString>

// What a module's version answer can be: a short printable text. Junk on the line (control
// characters, NULs, a full reply of noise) is no version, whatever its letters. Every test of a version
// text's letters is here, each rule in one function.
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
    // A bootloader's answer ("1234B101"), not a firmware's: an upper-case 'B' after at most
    // MaxModuleTypeLength characters of module type. What the run believes of the module it talks to.
    static bool isBootloaderAnswer(const QString& text);
    // The tool's and the host's rule: a 'b' in either case names a bootloader ("1234b101" too).
    static bool namesBootloader(const QString& text);
    // A 'v' in either case names a running firmware, whose link settings are worth remembering.
    static bool namesFirmware(const QString& text);
    // namesBootloader() for answers that pass the version test; any other plausible answer is a
    // firmware's (one that answers "<b>1.0</b>", say).
    static Mode modeOf(const QString& text);
};
