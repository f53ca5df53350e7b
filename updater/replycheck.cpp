#include "replycheck.h"

#include "bootloadercommands.h"
#include "command.h"

QString ReplyCheck::objection(const Command& request, const Command& reply, StatusRule rule)
{
    if (!reply.isValid())
        return QString();
    // Some bootloaders answer the checksum request with another command number; the verify step
    // asks once more and then takes the sum whatever the echo.
    if (reply.command() != request.command() && request.command() != Bootloader::ReadChecksumCommand)
        return QStringLiteral("The reply to command %1 echoes command %2: not its answer.")
            .arg(request.command())
            .arg(reply.command());
    // A bootloader that cannot store attributes says so with its status; the store step then takes
    // the flash-word way.
    const bool fallbackAnswer = request.command() == Bootloader::StoreAttributeCommand
        && request.type() == Bootloader::FirmwareSizeAttribute
        && reply.status() == Bootloader::AttributesUnsupportedStatus;
    if (rule == StatusRule::Done && reply.status() != DoneStatus && !fallbackAnswer)
        return QStringLiteral("The reply to command %1 has status %2: not done.")
            .arg(request.command())
            .arg(reply.status());
    return QString();
}
