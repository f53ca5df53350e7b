#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class QFileSystemModel;

// Identifies every file of a pool folder as a file model lists it and finds those that suit a module.
struct FirmwarePoolScan
{
    // Reads a HEX file and returns its firmware identifier (empty when it has none).
    using Identify = std::function<QString(const QString& path)>;

    // Names of the files whose identifier matches the module's firmware version.
    QStringList suitingFiles;
    // Absolute path to the identifier of each file, or "no FW" for a file that is no HEX file.
    QMap<QString, QString> identifiers;

    static FirmwarePoolScan run(const QFileSystemModel& model, const QString& directory, const QString& moduleVersion,
                                const Identify& identify);
};
