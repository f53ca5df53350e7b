#pragma once

#include <cstddef>

// A program image between two inaccessible regions that reach as far as any int offset can, so that a
// read or write through an offset outside the image faults at once instead of going unnoticed.
class GuardedImage
{
public:
    GuardedImage();
    ~GuardedImage();
    GuardedImage(const GuardedImage&) = delete;
    GuardedImage& operator=(const GuardedImage&) = delete;

    // False when the address space for the guards could not be reserved.
    bool isValid() const { return m_image != nullptr; }
    // IntelHex::ImageSize writable bytes.
    unsigned char* image() const { return m_image; }

private:
    void* m_mapping = nullptr;
    std::size_t m_mappingBytes = 0;
    unsigned char* m_image = nullptr;
};
