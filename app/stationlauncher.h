#pragma once

#include "hostparts.h"

#include <QCoreApplication>

class QWidget;
class StationView;

// Opens a station from the host's window for the modules present: asks for the firmware file and the
// station's name with the ordinary dialogs, refuses what dux-host --station refuses up front, and shows
// the station in a window of its own.
class StationLauncher
{
    Q_DECLARE_TR_FUNCTIONS(StationLauncher)
public:
    // The station's window, which owns its station and is deleted when closed; null when the user
    // cancelled, or when the station was refused (the reason shown to the user).
    static StationView* open(const HostParts& host, QWidget* parent);
};
