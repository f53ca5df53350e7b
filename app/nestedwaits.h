#pragma once

class PluginHandler;
class QObject;

// The modules updated side by side share the GUI thread: each link waits for its replies in a nested
// event loop, so that the others' requests go out meanwhile. A lone update gains nothing from it.
namespace NestedWaits {

// Has every module's link, present and found while `context` lives, wait in a nested event loop.
void shareAmongModules(PluginHandler* handler, QObject* context);

}
