#pragma once

#include <QString>

// Reads a firmware file with the HEX loader before anything is sent to a module, so that a file the
// update would refuse or write only in part is turned away with the loader's reason and line.
struct FirmwareFileCheck
{
    QString identifier; // empty when the file holds none
    QString problem;    // empty when the file holds firmware
    QString warning;    // what to say of a file written all the same (overlapping records)

    static FirmwareFileCheck of(const QString& fileName);
};
