#include "stationlauncher.h"

#include "firmwarefilecheck.h"
#include "moduleclash.h"
#include "pluginhandler.h"
#include "recordwriter.h"
#include "station.h"
#include "stationview.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

void StationLauncher::open(const HostParts& host, QWidget* parent)
{
    const auto refuse = [parent](const QString& reason) {
        QMessageBox::warning(parent, tr("Station"), tr("The station cannot start: %1.").arg(reason));
    };
    // Asked first: the user learns before choosing anything that the modules present cannot be flashed together.
    const QString clash = ModuleClash::of(*host.discovery, *host.handler, host.handler->getModulePluginKeys(true));
    if (!clash.isEmpty()) {
        refuse(clash);
        return;
    }
    const QString fileName = QFileDialog::getOpenFileName(parent, tr("Firmware for every fixture"), QString(),
                                                          tr("Intel HEX files (*.hex);;All files (*)"));
    if (fileName.isEmpty())
        return;
    const FirmwareFileCheck file = FirmwareFileCheck::of(fileName);
    if (!file.problem.isEmpty()) {
        refuse(file.problem);
        return;
    }
    // Cancelled, the dialog gives an empty name too.
    const QString stationName =
        QInputDialog::getText(parent, tr("Station"), tr("The station's name, which its records carry:")).trimmed();
    if (stationName.isEmpty())
        return;
    auto* station = new Station(host, {fileName, file.identifier, stationName, RecordWriter::newRecord().operatorName,
                                       QString(), StationShift::DefaultStopAfter, 0});
    auto* view = new StationView(station, parent);
    station->setParent(view);
    view->setWindowFlag(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
}
