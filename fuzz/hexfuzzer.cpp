// libFuzzer entry point for the HEX reader.
#include "checkoraborts.h"
#include "hexreadchecker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return checkOrAbort<HexReadChecker>("HEX reader", data, size);
}
