#pragma once

#include <QString>
#include <QtGlobal>

class Command;
enum class UpdatePhase;

// What the bootloader dialogue needs beyond its own thread: its requests carried to the module, with
// the reason when no reply carried one out, and someone to tell how far the update is.
class DialogueChannel
{
public:
    virtual ~DialogueChannel() = default;

    // Fills `reply` (left invalid when nothing usable came back) and returns why the request was not
    // carried out: empty when it was, or when nobody can tell.
    virtual QString request(Command& request, Command& reply) = 0;
    virtual void reachPhase(UpdatePhase phase) = 0;
    virtual void progress(qint64 bytesDone, qint64 bytesTotal) = 0;
};
