#include "firmwareupdaterthread.h"

#include "bootloaderdialogue.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "global.h"
#include "timescale.h"

namespace {
constexpr const char* RegistryName = "FW update";
// Lets the completion's receiver finish before the thread leaves the registry.
constexpr int BeforeLeavingMs = 100;
}

void FirmwareUpdaterThread::run()
{
    cancelRequested = false;
    Global::instance(false)->registerThread(QThread::currentThreadId(), QLatin1String(RegistryName));
    emit handleProgressBarMaximum(0);
    emit handleProgressBarValue(0);

    bool successful = true;
    if (commandHandler) {
        BootloaderDialogue::Target target;
        target.handler = commandHandler;
        // Unless the caller named the link's kind, the handler's own name tells a USB link from a serial one.
        target.linkKind = linkKind != UnnamedLinkKind ? linkKind
            : commandHandler->isUsbHandler()          ? DUXLConnectionInterface::Usb
                                                      : DUXLConnectionInterface::Serial;
        target.portName = portName;
        target.image = image;
        successful = BootloaderDialogue(*this, target, cancelRequested, reopenDone, moduleAddress).run();
    }

    if (successful) {
        emit handleDebugMessage(QStringLiteral("Update completed.\n"));
        emit handleUpdateCompleted(true);
        msleep(static_cast<unsigned long>(TimeScale::scaledMs(BeforeLeavingMs)));
    } else {
        emit handleUpdateCompleted(false);
    }
    Global::instance(false)->unregisterThread(QThread::currentThreadId());
}
