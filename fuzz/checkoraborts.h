#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The body of a libFuzzer entry point: `input` goes through the checks of `Checker`; a broken promise
// aborts, so that libFuzzer keeps the input as a crash.
template <typename Checker>
int checkOrAbort(const char* reader, const std::uint8_t* input, std::size_t size)
{
    static Checker checker;
    const std::string broken = checker.check(reinterpret_cast<const char*>(input), size);
    if (!broken.empty()) {
        std::fprintf(stderr, "%s invariant broken: %s\n", reader, broken.c_str());
        std::abort();
    }
    return 0;
}
