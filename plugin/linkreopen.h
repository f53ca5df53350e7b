#pragma once

#include <QString>

struct ModuleLink;
class ToolSettings;

// What the worker's request to reopen a module's link does, by the link's policy and the mode the
// module switches to: the data rate or the device is set here, the answer is the caller's to give.
class LinkReopen
{
public:
    struct Result
    {
        // Kinds the tool does not know, and a USB module that restarts, leave the worker unanswered.
        bool answered = false;
        bool opened = false;
        // The address the worker talks to from now on; NoAddress keeps the one it has.
        int moduleAddress = NoAddress;
        // A line for the history (plain text), empty when there is none.
        QString note;
    };
    static constexpr int NoAddress = -1;

    static Result apply(const ModuleLink& link, int moduleState, ToolSettings& settings, const QString& moduleKey);

private:
    static Result switchToBootloaderBaud(const ModuleLink& link);
    static Result useRememberedLink(const ModuleLink& link, int moduleState, ToolSettings& settings);
};
