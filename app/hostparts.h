#pragma once

class ContainerInterface;
class HostWindow;
class ModuleDiscovery;
class PluginHandler;

// What a run over the host's modules drives them with: the loaded plug-in, the host's handler, the
// module search and the window (null when headless). All of it outlives the run.
struct HostParts
{
    ContainerInterface* plugin;
    PluginHandler* handler;
    ModuleDiscovery* discovery;
    HostWindow* window;
};
