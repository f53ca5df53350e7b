#include "firmwarepoolscan.h"

#include "basictools.h"
#include "lowlevel.h"

#include <QDebug>
#include <QFileSystemModel>

namespace {
constexpr const char* HexSuffix = ".hex";
constexpr const char* NoFirmware = "no FW";
}

FirmwarePoolScan FirmwarePoolScan::run(const QFileSystemModel& model, const QString& directory,
                                       const QString& moduleVersion, const Identify& identify)
{
    FirmwarePoolScan scan;
    const QModelIndex folder = model.index(directory);
    const int rows = model.rowCount(folder);
    for (int row = 0; row < rows; ++row) {
        const QModelIndex file = model.index(row, 0, folder);
        QString version = QLatin1String(NoFirmware);
        const QString path = model.fileInfo(file).absoluteFilePath();
        if (path.toLower().endsWith(QLatin1String(HexSuffix))) {
            version = identify(path);
            if (!BasicTools::matchFirmwareVersion(moduleVersion, version, 0).isEmpty())
                scan.suitingFiles << model.fileName(file);
            qCDebug(debLowLevel) << "bool FirmwareUpdate::fileNameChanged(QString)" << moduleVersion << version;
        }
        scan.identifiers.insert(path, version);
    }
    return scan;
}
