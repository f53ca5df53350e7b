#include "heapcounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <malloc.h>

// Every allocation function of the C library, wrapped for the program this file is linked into: each
// call goes on to glibc's own function and the usable size of what it hands out or takes back is
// counted, on every thread. C++'s operator new and delete, and Qt's and glib's allocators, end here.

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<long long> liveBytes{0};

void* counted(void* pointer)
{
    if (pointer)
        liveBytes.fetch_add(static_cast<long long>(malloc_usable_size(pointer)), std::memory_order_relaxed);
    return pointer;
}

void uncount(void* pointer)
{
    if (pointer)
        liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(pointer)), std::memory_order_relaxed);
}

}

extern "C" {

void* malloc(size_t size)
{
    return counted(__libc_malloc(size));
}

void* calloc(size_t count, size_t size)
{
    return counted(__libc_calloc(count, size));
}

void* realloc(void* pointer, size_t size)
{
    uncount(pointer);
    void* moved = __libc_realloc(pointer, size);
    // A failed reallocation leaves the old block in place.
    if (!moved && pointer && size > 0) {
        counted(pointer);
        return nullptr;
    }
    return counted(moved);
}

void free(void* pointer)
{
    uncount(pointer);
    __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}

void* valloc(size_t size)
{
    return counted(__libc_valloc(size));
}

void* pvalloc(size_t size)
{
    return counted(__libc_pvalloc(size));
}

int posix_memalign(void** result, size_t alignment, size_t size)
{
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *result = counted(pointer);
    return 0;
}

}

long long HeapCounter::liveBytes()
{
    return ::liveBytes.load(std::memory_order_relaxed);
}
