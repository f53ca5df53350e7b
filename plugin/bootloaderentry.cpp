#include "bootloaderentry.h"

#include "command.h"
#include "commandhandlerinterface.h"
#include "protocolfacts.h"

BootloaderEntry::BootloaderEntry() = default;

BootloaderEntry::~BootloaderEntry() = default;

void BootloaderEntry::send(CommandHandlerInterface* handler, unsigned char moduleAddress)
{
    m_command = std::make_unique<Command>(moduleAddress, Protocol::EnterBootloaderCommand,
                                          Protocol::EnterBootloaderType, Protocol::EnterBootloaderBank,
                                          Protocol::EnterBootloaderCode, Bootloader::NoBroadcast,
                                          Bootloader::ReplyAddress);
    handler->doDirectRequestWithoutReply(m_command.get());
}
