#pragma once

#include <QString>

// The local pool of used firmware files below the host's home path.
class FirmwarePool
{
public:
    explicit FirmwarePool(const QString& homePath);

    // Home path + "/../Firmware".
    QString path() const { return m_path; }
    // Makes the folder when it is missing (removed since it was last made, or never made).
    void make() const;
    bool hasFirmwareFiles() const;
    // Keeps a copy of a used firmware file; a file already in the pool, or a name taken there, is left
    // alone, and an empty name (the run's file was cleared) has nothing to keep. Returns what the user
    // should hear of it (plain text): why no copy could be made, or that the pool keeps a different
    // file of that name; empty when the copy was made or was not needed.
    QString keepCopy(const QString& fileName) const;

private:
    static bool sameContent(const QString& first, const QString& second);

    QString m_path;
};
