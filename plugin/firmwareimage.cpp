#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

QString FirmwareUpdate::loadHexFile(QString fileName)
{
    Q_UNUSED(fileName)
    return QString();
}

bool FirmwareUpdate::findVersionPattern(unsigned char* data, int size, const char* pattern)
{
    Q_UNUSED(data)
    Q_UNUSED(size)
    Q_UNUSED(pattern)
    return false;
}

void FirmwareUpdate::clearFileInfo()
{
}

bool FirmwareUpdate::fileNameChanged(QString fileName)
{
    Q_UNUSED(fileName)
    return false;
}

void FirmwareUpdate::doFirmwareUpdate(unsigned char* progData, int programSize, int progStart, int segmentAddress,
                                      int extendedLinearAddress, int ARMFlashAddress)
{
    Q_UNUSED(progData)
    Q_UNUSED(programSize)
    Q_UNUSED(progStart)
    Q_UNUSED(segmentAddress)
    Q_UNUSED(extendedLinearAddress)
    Q_UNUSED(ARMFlashAddress)
}

void FirmwareUpdate::handleFirmwareDirectory(QString directory)
{
    Q_UNUSED(directory)
}

void FirmwareUpdate::prepareSelect()
{
}

void FirmwareUpdate::toolSelectAction(QAction* action)
{
    Q_UNUSED(action)
}

void FirmwareUpdate::doubleClickedFile(QModelIndex index)
{
    Q_UNUSED(index)
}

void FirmwareUpdate::parameterChanged(int state)
{
    Q_UNUSED(state)
}

void FirmwareUpdate::dragEnterEvent(QDragEnterEvent* event)
{
    Q_UNUSED(event)
}

void FirmwareUpdate::dragMoveEvent(QDragMoveEvent* event)
{
    Q_UNUSED(event)
}

void FirmwareUpdate::dropEvent(QDropEvent* event)
{
    Q_UNUSED(event)
}
