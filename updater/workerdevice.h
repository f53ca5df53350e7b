#pragma once

#include <QString>

class Command;
class ProgressMessage;
struct WindowedWords;
class WindowedWordsDone;

// The GUI thread's side of the update worker: runs its requests on the module's link, opens and closes
// that link, and shows what the worker reports. WorkerBridge calls it, one call per signal of the worker.
class WorkerDevice
{
public:
    virtual ~WorkerDevice() = default;

    // Returns why the request was not carried out, as the link tells it; empty when it was.
    virtual QString runRequest(Command* request, Command* reply) = 0;
    virtual void runRequestWithoutReply(Command* request) = 0;
    // How many of the write phase's words the link keeps in flight; a device that cannot tell keeps the
    // exchange one request at a time.
    virtual int requestWindow() { return 1; }
    // Runs the words in order, several in flight where the link can, stopping at the first not carried
    // out, and then calls `done`. It may return before: the worker waits for `done`, not for this call,
    // so that a link whose replies come through the event loop holds no other link's requests back.
    // Without a link of its own to ask: one at a time through runRequest(), at once.
    virtual void startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done);
    virtual void readFirmwareVersion(QString* version, int moduleAddress) = 0;
    virtual void closeDevice() = 0;
    virtual void reopenDevice(int moduleState) = 0;
    // A short status of the run, by its id, so that it is shown in the user's language.
    virtual void showProgress(const ProgressMessage& message) = 0;
    virtual void showDebugMessage(const QString& message) = 0;
    virtual void showProgressBarValue(int value) = 0;
    virtual void showProgressBarMaximum(int maximum) = 0;
    virtual void showModuleVersion(const QString& version) = 0;
    virtual void updateCompleted(bool successful) = 0;
};
