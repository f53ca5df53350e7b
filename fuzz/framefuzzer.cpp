// libFuzzer entry point: every input goes through the frame decoder's invariant checks; a broken one
// aborts, so that libFuzzer keeps the input as a crash.
#include "framedecodechecker.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static FrameDecodeChecker checker;
    const std::string broken = checker.check(reinterpret_cast<const char*>(data), size);
    if (!broken.empty()) {
        std::fprintf(stderr, "frame decoder invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
