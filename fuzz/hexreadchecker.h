#pragma once

#include "guardedimage.h"

#include <cstddef>
#include <string>

// Reads HEX input and checks what the reader promises for any input at all: one outcome, nothing
// stored outside the image, sizes and checksum that agree with the image, the same result however the
// input arrives, and an image that reads back the same after being written out as HEX. The input
// bytes also serve as an image for the identifier scan, which must find what its definition finds.
class HexReadChecker
{
public:
    // The first broken promise for the `size` bytes at `data`, or an empty text when all hold.
    std::string check(const char* data, std::size_t size);

private:
    GuardedImage m_image;
    GuardedImage m_pieceImage;
    GuardedImage m_roundTripImage;
};
