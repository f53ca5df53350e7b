#include "firmwareupdaterthread.h"

#include "bootloaderdialogue.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "global.h"
#include "linkkindrules.h"
#include "lowlevel.h"
#include "progressmessage.h"
#include "protocolfacts.h"
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
        BootloaderDialogue::Target thisRun = target;
        // Unless the caller named the link's kind, the handler's own name tells a USB link from a serial one.
        if (thisRun.linkKind == UnnamedLinkKind)
            thisRun.linkKind = LinkKindRules::kindOfHandler(*commandHandler);
        thisRun.comPort = commandHandler->property("dpComPort");
        successful = BootloaderDialogue(*this, thisRun).run();
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
        target.portName = handler->property("dpComPort").toString();
    else
        target.portName = handler ? handler->objectName() : QString();
    target.linkKind = UnnamedLinkKind;
    qDebug() << "FirmwareUpdaterThread::setCommandHandler()" << target.portName;
}

void FirmwareUpdaterThread::setLinkKind(int kind)
{
    target.linkKind = kind;
}

void FirmwareUpdaterThread::setImage(const FirmwareImage& firmware)
{
    target.image = firmware;
}

void FirmwareUpdaterThread::setDetectionBoundMs(int ms)
{
    target.detectionBoundMs = ms;
}

void FirmwareUpdaterThread::setModuleAddress(unsigned char address)
{
    moduleAddress = address;
}

void FirmwareUpdaterThread::setSkipIfHeld(bool skip)
{
    target.skipIfHeld = skip;
}

void FirmwareUpdaterThread::setVerifyOnly(bool verify)
{
    target.verifyOnly = verify;
}

void FirmwareUpdaterThread::setTryResume(bool wanted)
{
    target.tryResume = wanted;
}

void FirmwareUpdaterThread::setReadBack(bool wanted, qint64 first, qint64 end)
{
    target.readBack = wanted;
    target.readFirst = first;
    target.readEnd = end;
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

void FirmwareUpdaterThread::tellOutcome(const std::function<void(UpdateOutcome&)>& tell)
{
    // The widget lets go of the outcome while the run may still report.
    if (UpdateOutcome* report = currentOutcome())
        tell(*report);
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

void FirmwareUpdaterThread::readFirmwareVersion(QString* version, unsigned char address)
{
    emit handleGetFirmwareVersion(version, address);
}

void FirmwareUpdaterThread::closeDevice()
{
    emit handleCloseDevice();
}

void FirmwareUpdaterThread::reopenDevice(Protocol::ModuleState state)
{
    emit handleReopenDevice(int(state));
}

void FirmwareUpdaterThread::awaitReopen(Protocol::ModuleState state, int pollMs)
{
    reopenDone = false;
    reopenDevice(state);
    while (!reopenDone && !cancelRequested)
        pause(std::chrono::milliseconds(pollMs));
}

// The handler's settings are plain values that the worker sets directly, between its requests.
bool FirmwareUpdaterThread::isDeviceOpen()
{
    return commandHandler->isDeviceOpen();
}

void FirmwareUpdaterThread::setMaxTimeoutMS(int ms)
{
    commandHandler->setMaxTimeoutMS(ms);
}

void FirmwareUpdaterThread::resetMaxTimeoutMS()
{
    commandHandler->resetMaxTimeoutMS();
}

void FirmwareUpdaterThread::setForceProcessEvents(bool force)
{
    commandHandler->setForceProcessEvents(force);
}

void FirmwareUpdaterThread::setTraceMode(bool trace)
{
    commandHandler->setTraceMode(trace);
}

unsigned char FirmwareUpdaterThread::currentModuleAddress() const
{
    return moduleAddress;
}

void FirmwareUpdaterThread::pause(std::chrono::microseconds duration)
{
    usleep(static_cast<unsigned long>(TimeScale::scaledUs(static_cast<unsigned long>(duration.count()))));
}

void FirmwareUpdaterThread::log(const QString& text)
{
    emit handleDebugMessage(text);
}

void FirmwareUpdaterThread::showModuleVersion(const QString& version)
{
    emit handleModuleVersion(version);
}

void FirmwareUpdaterThread::showBarMaximum(int maximum)
{
    emit handleProgressBarMaximum(maximum);
}

void FirmwareUpdaterThread::showBarValue(int value)
{
    emit handleProgressBarValue(value);
}

void FirmwareUpdaterThread::reachPhase(UpdatePhase phase)
{
    tellOutcome([&](UpdateOutcome& report) { report.reachPhase(phase); });
}

void FirmwareUpdaterThread::progress(qint64 bytesDone, qint64 bytesTotal)
{
    tellOutcome([&](UpdateOutcome& report) { report.progress(bytesDone, bytesTotal); });
}

void FirmwareUpdaterThread::noteWindow(int window)
{
    tellOutcome([&](UpdateOutcome& report) { report.noteWindow(window); });
}

void FirmwareUpdaterThread::noteSkipped()
{
    tellOutcome([&](UpdateOutcome& report) { report.noteSkipped(); });
}

void FirmwareUpdaterThread::noteResumed()
{
    tellOutcome([&](UpdateOutcome& report) { report.noteResumed(); });
}

void FirmwareUpdaterThread::noteDifferingPages(const QVector<quint32>& pages)
{
    tellOutcome([&](UpdateOutcome& report) { report.noteDifferingPages(pages); });
}

void FirmwareUpdaterThread::noteReadBack(quint32 base, const QByteArray& bytes)
{
    tellOutcome([&](UpdateOutcome& report) { report.noteReadBack(base, bytes); });
}

void FirmwareUpdaterThread::showProgress(const ProgressMessage& message)
{
    tellOutcome([&](UpdateOutcome& report) { report.noteStatus(message.english()); });
    emit handleProgressMessage(message.english());
    // Queued on the context, like the queued signals: the status keeps its place among the history lines.
    if (deviceContext)
        QMetaObject::invokeMethod(
            deviceContext, [target = device, message] { target->showProgress(message); }, Qt::QueuedConnection);
}
