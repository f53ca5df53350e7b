#pragma once

#include <cstddef>
#include <string>

// Runs bytes through the DUXL frame decoder and checks what it promises for any input at all: every
// frame it hands out stands in the input where it says, with the start byte, a kind and length that
// fit, a matching CRC and the fields its bytes hold; every byte is accounted for (in a frame, skipped or
// still held), and between calls it holds less than one frame. This holds whether the bytes arrive
// whole or in pieces, and the time the decoder takes grows no faster than the input.
class FrameDecodeChecker
{
public:
    // The first broken promise for the `size` bytes at `data`, or an empty text when all hold.
    std::string check(const char* data, std::size_t size);
};
