#include "guardedimage.h"

#include "intelhexparser.h"

#include <sys/mman.h>

#include <climits>

namespace {

// image + offset for any int offset outside the image lands in a guard: 2 GiB below covers INT_MIN,
// 2 GiB above covers INT_MAX. Only address space is reserved; the guards cost no memory.
constexpr std::size_t GuardBytes = std::size_t(INT_MAX) + 1;

}

GuardedImage::GuardedImage()
{
    const std::size_t bytes = GuardBytes + std::size_t(IntelHex::ImageSize) + GuardBytes;
    void* mapping = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    // ImageSize is a whole number of pages, so the image ends exactly where the upper guard begins.
    unsigned char* image = static_cast<unsigned char*>(mapping) + GuardBytes;
    if (mprotect(image, std::size_t(IntelHex::ImageSize), PROT_READ | PROT_WRITE) != 0) {
        munmap(mapping, bytes);
        return;
    }
    m_mapping = mapping;
    m_mappingBytes = bytes;
    m_image = image;
}

GuardedImage::~GuardedImage()
{
    if (m_mapping)
        munmap(m_mapping, m_mappingBytes);
}
