#include "firmwareupdaterthread.h"

#include "bootloaderdialogue.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "global.h"
#include "linkkindrules.h"
#include "lowlevel.h"
#include "progressmessage.h"
#include "timescale.h"
#include "updateoutcome.h"
#include "windowedwords.h"
#include "workerdevice.h"

#include <QDebug>
#include <QVariant>

namespace {
constexpr const char* RegistryName = "FW update";
}

FirmwareUpdaterThread::FirmwareUpdaterThread()
    : QThread(nullptr)
{
    qRegisterMetaType<Command*>("Command*");
}

FirmwareUpdaterThread::~FirmwareUpdaterThread()
{
    qCDebug(debLowLevel) << "virtual FirmwareUpdaterThread::~FirmwareUpdaterThread()";
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
        target.linkKind = linkKind != UnnamedLinkKind ? linkKind : LinkKindRules::kindOfHandler(*commandHandler);
        target.portName = portName;
        target.image = image;
        target.detectionBoundMs = detectionBoundMs;
        target.skipIfHeld = skipIfHeld;
        target.verifyOnly = verifyOnly;
        target.tryResume = tryResume;
        target.readBack = readBack;
        target.readFirst = readFirst;
        target.readEnd = readEnd;
        successful = BootloaderDialogue(*this, *this, target, cancelRequested, reopenDone, moduleAddress).run();
    }

    if (successful) {
        emit handleDebugMessage(QStringLiteral("Update completed.\n"));
        emit handleUpdateCompleted(true);
        msleep(static_cast<unsigned long>(TimeScale::scaledMs(LeavesAfterCompletionMs)));
    } else {
        emit handleUpdateCompleted(false);
    }
    Global::instance(false)->unregisterThread(QThread::currentThreadId());
}

void FirmwareUpdaterThread::setCommandHandler(CommandHandlerInterface* handler)
{
    commandHandler = handler;
    if (handler && handler->dynamicPropertyNames().contains("dpComPort"))
        portName = handler->property("dpComPort").toString();
    else
        portName = handler ? handler->objectName() : QString();
    linkKind = UnnamedLinkKind;
    qDebug() << "FirmwareUpdaterThread::setCommandHandler()" << portName;
}

void FirmwareUpdaterThread::setLinkKind(int kind)
{
    linkKind = kind;
}

void FirmwareUpdaterThread::setImage(const FirmwareImage& firmware)
{
    image = firmware;
}

void FirmwareUpdaterThread::setDetectionBoundMs(int ms)
{
    detectionBoundMs = ms;
}

void FirmwareUpdaterThread::setModuleAddress(unsigned char address)
{
    moduleAddress = address;
}

void FirmwareUpdaterThread::setSkipIfHeld(bool skip)
{
    skipIfHeld = skip;
}

void FirmwareUpdaterThread::setVerifyOnly(bool verify)
{
    verifyOnly = verify;
}

void FirmwareUpdaterThread::setTryResume(bool wanted)
{
    tryResume = wanted;
}

void FirmwareUpdaterThread::setReadBack(bool wanted, qint64 first, qint64 end)
{
    readBack = wanted;
    readFirst = first;
    readEnd = end;
}

void FirmwareUpdaterThread::cancelUpdate()
{
    cancelRequested = true;
}

bool FirmwareUpdaterThread::isCancelRequested() const
{
    return cancelRequested;
}

void FirmwareUpdaterThread::setReopenResult(bool opened)
{
    reopenResult = opened;
    reopenDone = true;
}

void FirmwareUpdaterThread::setDeviceClosed()
{
    deviceClosed = true;
}

void FirmwareUpdaterThread::setOutcome(UpdateOutcome* report)
{
    outcome = report;
}

void FirmwareUpdaterThread::setRequestFailure(const QString& reason)
{
    QMutexLocker lock(&requestFailureMutex);
    requestFailure = reason;
}

QString FirmwareUpdaterThread::request(Command& request, Command& reply)
{
    // The bridge sets the reason of each request, empty when it was carried out; other receivers tell none.
    emit doDirectRequest(&request, &reply);
    QMutexLocker lock(&requestFailureMutex);
    return requestFailure;
}

void FirmwareUpdaterThread::setDevice(QObject* context, WorkerDevice* workerDevice)
{
    deviceContext = context;
    device = workerDevice;
}

int FirmwareUpdaterThread::requestWindow()
{
    // Without a device to ask, the exchange stays one request at a time.
    int window = 1;
    if (deviceContext)
        QMetaObject::invokeMethod(
            deviceContext, [this, &window] { window = device->requestWindow(); },
            Qt::BlockingQueuedConnection);
    return window;
}

void FirmwareUpdaterThread::requestWords(WindowedWords& words)
{
    // Asked for only when requestWindow() gave more than one, which needs the device.
    QObject* const context = deviceContext;
    if (!context)
        return;
    // Queued, not blocking-queued: the device may hand the words to its link and return to its event loop
    // at once. The call dropped undelivered (its context gone) drops `done`, which wakes the worker too.
    QSemaphore over;
    {
        const WindowedWordsDone done(over);
        QMetaObject::invokeMethod(
            context, [this, &words, done] { device->startWindowedRequests(words, done); },
            Qt::QueuedConnection);
    }
    over.acquire();
}

void FirmwareUpdaterThread::reachPhase(UpdatePhase phase)
{
    if (UpdateOutcome* report = currentOutcome())
        report->reachPhase(phase);
}

void FirmwareUpdaterThread::progress(qint64 bytesDone, qint64 bytesTotal)
{
    if (UpdateOutcome* report = currentOutcome())
        report->progress(bytesDone, bytesTotal);
}

void FirmwareUpdaterThread::showProgress(const ProgressMessage& message)
{
    emit handleProgressMessage(message.english());
    // Queued on the context, like the queued signals: the status keeps its place among the history lines.
    if (deviceContext)
        QMetaObject::invokeMethod(
            deviceContext, [target = device, message] { target->showProgress(message); }, Qt::QueuedConnection);
}
