#pragma once

#include <QString>
#include <QtGlobal>

class Command;
class ProgressMessage;
enum class UpdatePhase;
struct WindowedWords;

// What the bootloader dialogue needs beyond its own thread: its requests carried to the module, with
// the reason when no reply carried one out, and someone to tell how far the update is.
class DialogueChannel
{
public:
    virtual ~DialogueChannel() = default;

    // Fills `reply` (left invalid when nothing usable came back) and returns why the request was not
    // carried out: empty when it was, or when nobody can tell.
    virtual QString request(Command& request, Command& reply) = 0;
    // How many of the write phase's words the link keeps in flight; 1: one at a time through request().
    virtual int requestWindow() = 0;
    // Sends the words in order with up to requestWindow() in flight and tells how far they got.
    virtual void requestWords(WindowedWords& words) = 0;
    virtual void reachPhase(UpdatePhase phase) = 0;
    virtual void progress(qint64 bytesDone, qint64 bytesTotal) = 0;
    // A short status for the progress line.
    virtual void showProgress(const ProgressMessage& message) = 0;
};
