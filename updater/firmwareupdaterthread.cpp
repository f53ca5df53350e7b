#include "firmwareupdaterthread.h"

#include "command.h"
#include "commandhandlerinterface.h"
#include "lowlevel.h"

#include <QDebug>
#include <QVariant>

FirmwareUpdaterThread::FirmwareUpdaterThread()
    : QThread(nullptr)
{
    qRegisterMetaType<Command*>("Command*");
}

FirmwareUpdaterThread::~FirmwareUpdaterThread()
{
    qCDebug(debLowLevel) << "virtual FirmwareUpdaterThread::~FirmwareUpdaterThread()";
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

void FirmwareUpdaterThread::setModuleAddress(unsigned char address)
{
    moduleAddress = address;
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
