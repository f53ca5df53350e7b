#include "nestedwaits.h"

#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "pluginhandler.h"
#include "serialcommandhandler.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Ahead of ordinary processes, still behind the system's own: the nice value of the lines' thread.
constexpr int LinesThreadNice = -10;

// This thread serves every module's line: held behind other processes, the lines stand idle while their
// windows wait for it (sixteen modules beside two busy processes: 1.13 - 1.20x a lone update; raised,
// 1.06 - 1.12x). Only where the system allows it, and never lower than it is.
void raiseThisThread()
{
    const auto thread = id_t(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0 && now > LinesThreadNice)
        ::setpriority(PRIO_PROCESS, thread, LinesThreadNice);
}
}

void NestedWaits::shareAmongModules(PluginHandler* handler, QObject* context)
{
    const auto share = [handler](const QString& key) {
        DUXLModuleInterface* module = handler->getModulePlugin(key);
        DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
        if (auto* link = qobject_cast<SerialCommandHandler*>(connection ? connection->commandHandler() : nullptr))
            link->setWaitInEventLoop(true);
    };
    for (const QString& key : handler->getModulePluginKeys(true))
        share(key);
    // Queued: the register reports from inside the discovery's search.
    QObject::connect(handler, &PluginHandler::modulePluginAdded, context, share, Qt::QueuedConnection);
    raiseThisThread();
}
