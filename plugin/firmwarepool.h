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
    // alone, and an empty name (the run's file was cleared) has nothing to keep.
    void keepCopy(const QString& fileName) const;

private:
    QString m_path;
};
