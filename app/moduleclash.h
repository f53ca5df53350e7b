#pragma once

#include <QString>
#include <QStringList>

class ModuleDiscovery;
class PluginHandler;

// Why modules cannot be updated side by side in one process: two ports that are one module, or several
// modules on USB links, whose new port after a restart no update can tell from another's. Every mode
// that updates more than one module asks it before anything is sent.
namespace ModuleClash {

// Empty when `keys` may go to one run together.
QString of(const ModuleDiscovery& discovery, PluginHandler& handler, const QStringList& keys);
// Whether the module of `key` comes back under a new port when it restarts.
bool reenumerates(PluginHandler& handler, const QString& key);

}
