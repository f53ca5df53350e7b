#pragma once

#include <memory>

class Command;
class CommandHandlerInterface;

// Tells a module's firmware to start its bootloader. A handler may send the command later than it
// returns, so the record lives until the next one replaces it or this object goes.
class BootloaderEntry
{
public:
    BootloaderEntry();
    ~BootloaderEntry();

    // Sends the entry command to `moduleAddress` without waiting for a reply.
    void send(CommandHandlerInterface* handler, unsigned char moduleAddress);

private:
    std::unique_ptr<Command> m_command;
};
