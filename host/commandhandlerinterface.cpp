#include "commandhandlerinterface.h"

CommandHandlerInterface::CommandHandlerInterface(QObject* parent)
    : QObject(parent)
{
}
