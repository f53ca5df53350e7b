#include "workerbridge.h"

#include "command.h"
#include "firmwareupdaterthread.h"
#include "workerdevice.h"

void WorkerBridge::connect(FirmwareUpdaterThread& worker, QObject& context, WorkerDevice& device)
{
    using Thread = FirmwareUpdaterThread;
    Thread* const thread = &worker;
    WorkerDevice* const side = &device;
    const auto queued = Qt::QueuedConnection;
    const auto blocking = Qt::BlockingQueuedConnection;
    QObject::connect(thread, &Thread::handleDebugMessage, &context,
                     [side](const QString& message) { side->showDebugMessage(message); }, queued);
    QObject::connect(thread, &Thread::handleProgressBarValue, &context,
                     [side](int value) { side->showProgressBarValue(value); }, queued);
    QObject::connect(thread, &Thread::handleProgressBarMaximum, &context,
                     [side](int maximum) { side->showProgressBarMaximum(maximum); }, queued);
    QObject::connect(thread, &Thread::handleUpdateCompleted, &context,
                     [side](bool successful) { side->updateCompleted(successful); }, blocking);
    QObject::connect(thread, &Thread::handleModuleVersion, &context,
                     [side](const QString& version) { side->showModuleVersion(version); }, blocking);
    QObject::connect(thread, &Thread::handleCloseDevice, &context, [side] { side->closeDevice(); }, blocking);
    QObject::connect(thread, &Thread::handleReopenDevice, &context,
                     [side](int moduleState) { side->reopenDevice(moduleState); }, blocking);
    // The device may be gone when its request returns (the erase runs the event loop): only the worker,
    // which waits here, is touched afterwards.
    QObject::connect(thread, &Thread::doDirectRequest, &context,
                     [thread, side](Command* request, Command* reply) {
                         thread->setRequestFailure(side->runRequest(request, reply));
                     },
                     blocking);
    // The write phase's windowed words and the progress line's statuses go through the device hook.
    worker.setDevice(&context, side);
    QObject::connect(thread, &Thread::doDirectRequestWithoutReply, &context,
                     [side](Command* request) { side->runRequestWithoutReply(request); }, Qt::AutoConnection);
    QObject::connect(thread, &Thread::handleGetFirmwareVersion, &context,
                     [side](QString* version, int moduleAddress) { side->readFirmwareVersion(version, moduleAddress); },
                     blocking);
}
