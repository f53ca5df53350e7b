// libFuzzer entry point for the DUXL frame decoder.
#include "checkoraborts.h"
#include "framedecodechecker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return checkOrAbort<FrameDecodeChecker>("frame decoder", data, size);
}
