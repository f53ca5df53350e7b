#include "command.h"

Command::Command() = default;

Command::Command(unsigned char moduleAddress, unsigned char command, unsigned short type, unsigned char motorBank,
                 int value, bool broadcast, unsigned char replyAddress)
    : m_moduleAddress(moduleAddress)
    , m_command(command)
    , m_type(type)
    , m_motorBank(motorBank)
    , m_value(value)
    , m_broadcast(broadcast)
    , m_replyAddress(replyAddress)
{
}

void Command::setReply(unsigned char moduleAddress, unsigned char command, unsigned char status, int value)
{
    m_moduleAddress = moduleAddress;
    m_command = command;
    m_status = status;
    m_value = value;
    m_valid = true;
}

void Command::invalidate()
{
    m_valid = false;
}

QString Command::toString() const
{
    return QStringLiteral("Command(valid=%1 address=%2 command=%3 type=%4 motorBank=%5 value=%6 status=%7)")
        .arg(m_valid)
        .arg(m_moduleAddress)
        .arg(m_command)
        .arg(m_type)
        .arg(m_motorBank)
        .arg(m_value)
        .arg(m_status);
}
