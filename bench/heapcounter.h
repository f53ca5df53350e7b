#pragma once

// Bytes on the heap right now, over all threads, counted by wrapping the C library's allocation
// functions in the program that links heapcounter.cpp. Exact where malloc's own statistics see only
// the main thread's arena and count its caches of freed blocks as in use.
namespace HeapCounter {

long long liveBytes();

}
