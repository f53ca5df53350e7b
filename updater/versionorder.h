#pragma once

#include <QString>

// The order of firmware versions (docs/protocol.md, "Version order"): two identifiers of one module type
// compare by the release number after the type's letter, the dot of "###V#.##" left out; the letter
// (V or C) does not count. A module in its bootloader runs no firmware, so any file is newer.
class VersionOrder
{
public:
    enum class Verdict { Newer, NotNewer, Unknown };

    // The release number of an identifier that follows one of the known patterns (1234V201: 201,
    // 123V2.01: 201); -1 when it follows none. `type` (may be null) gets the module type before the letter.
    static int releaseOf(const QString& identifier, QString* type = nullptr);
    // Whether the file's identifier is newer than what the module said it runs.
    static Verdict fileAgainstModule(const QString& fileIdentifier, const QString& moduleVersion);
};
