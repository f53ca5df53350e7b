#pragma once

#include "pluginhandler.h"

// What one instance of the update plug-in sees of the host's register: its own module, and on a
// USB link also the modules that appear later (its module comes back under new ports). The plug-in
// reads the version of the first module in its list whenever it rebuilds the list; with every
// module listed, it would send requests to links that other instances are updating at that moment.
class ModuleView : public PluginHandler
{
    Q_OBJECT
public:
    ModuleView(PluginHandler* host, const QString& moduleKey, bool followNewModules, QObject* parent = nullptr);

private:
    void mirror(const QString& key);
    void forget(const QString& key);

    PluginHandler* m_host;
};
