#pragma once

#include "progressmessage.h"

#include <QtGlobal>
#include <optional>

// Checks the parameters a bootloader states (page size, flash base, memory size) against each other
// and against the image before anything is erased (the base must equal the image's start, which the
// dialogue checks itself): a value no module can have means the answers
// cannot be trusted.
class ModuleParameters
{
public:
    // The largest flash page of any module we know, with room to spare.
    static constexpr int MaxPageBytes = 64 * 1024;

    // What is implausible about the values, with the value; none when they are plausible.
    // `memorySize` < 0: not read.
    static std::optional<ProgressMessage> implausibility(int pageSize, quint32 flashBase, qint64 memorySize, int programSize);
};
