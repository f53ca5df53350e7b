#pragma once

#include "hostparts.h"

#include <QCoreApplication>

class QWidget;

// Opens a station from the host's window for the modules present: asks for the firmware file and the
// station's name with the ordinary dialogs, refuses what dux-host --station refuses up front, and shows
// the station in a window of its own.
class StationLauncher
{
    Q_DECLARE_TR_FUNCTIONS(StationLauncher)
public:
    // Shows the station's window, which owns its station and is deleted when closed; nothing when the
    // user cancels, and the reason when the station is refused.
    static void open(const HostParts& host, QWidget* parent);
};
