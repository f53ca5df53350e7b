#pragma once

#include <QString>

struct UpdateRecord;

// Whether a module's last update, as the records keep it, was one of the same file that was cut short
// after its erase: its flash then likely holds the start of the file, and a resume is worth its sums.
class ResumeHint
{
public:
    // Reads the newest record of `moduleKey` where the records are kept; false when there is none or it
    // cannot be read.
    static bool fromRecords(const QString& moduleKey, const QString& fileName);
    // The decision on the module's newest record and the chosen file's SHA-256.
    static bool suggests(const UpdateRecord& last, const QString& fileSha256);
};
