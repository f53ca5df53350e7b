#pragma once

// Which event dispatcher runs the host's event loop; chosen before the application object is made.
namespace HostEventLoop {

// Takes Qt's own event dispatcher instead of GLib's, unless the user set QT_NO_GLIB. Modules updated
// at once wait for their replies in nested event loops on the GUI thread, and each worker's next
// request is a posted event: nested in GLib's dispatcher it was delivered 1.4 – 2 ms late (the
// reply of the loop around it came first), in Qt's own in about 0.1 ms, as at the top level.
void chooseDispatcher();

}
