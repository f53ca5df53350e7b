#pragma once

#include <QString>

class Command;

// Tells whether a well-formed reply is the answer to the request it came back for: it echoes the
// request's command number and says "done", or a status that the request's step expects.
class ReplyCheck
{
public:
    static constexpr unsigned char DoneStatus = 100;

    // What the reply's status must be: "done" (or what the step expects), or any status, where the
    // step fails only on a missing, corrupt or other command's reply, as the command set has it.
    enum class StatusRule { Done, Any };

    // Why `reply` is not the answer to `request`; empty when it is, or when no reply came at all.
    static QString objection(const Command& request, const Command& reply, StatusRule rule = StatusRule::Done);
};
