#pragma once

#include "hostoptions.h"

#include <QObject>

class ContainerInterface;
class HostWindow;
class ModuleDiscovery;
class PluginHandler;

// Updates of several modules in one dux-host run, each by its own instance of the plug-in, driven
// until the job ends: several modules at once, or each module as it is plugged in (--watch).
class UpdateJob : public QObject
{
    Q_OBJECT
public:
    // What a job works with; all outlive it.
    struct Host
    {
        ContainerInterface* plugin;
        PluginHandler* handler;
        ModuleDiscovery* discovery;
        HostWindow* window;
    };

    UpdateJob(const HostOptions& options, const Host& host, QObject* parent = nullptr)
        : QObject(parent)
        , m_options(options)
        , m_host(host)
    {
    }

    virtual void start() = 0;
    // SIGINT or SIGTERM: the running updates are cancelled, then the job ends.
    virtual void interrupt() = 0;
    // The --timeout has passed.
    virtual void deadlineReached() = 0;

signals:
    // Told and done; the process may end with `exitCode`.
    void finished(int exitCode);

protected:
    const HostOptions m_options;
    const Host m_host;
};
