#pragma once

#include <atomic>
#include <cstddef>

// This test binary defines malloc, calloc, realloc, free, posix_memalign, aligned_alloc, memalign,
// valloc and pthread_mutex_lock itself (Interpose.cpp), so every call in the process passes through
// it, from our code, the framework, the C++ runtime or the C library. Calls made by a thread while
// it is marked as the audio thread are counted.
namespace audiothread
{
enum Call { malloc_, calloc_, realloc_, free_, posixMemalign, alignedAlloc, memalign_, valloc_, mutexLock, mutexTrylock, numCalls };

struct Counts
{
    long calls[numCalls] {};
    long allocations() const
    {
        return calls[malloc_] + calls[calloc_] + calls[realloc_] + calls[posixMemalign] + calls[alignedAlloc]
             + calls[memalign_] + calls[valloc_];
    }
};

// The first counted allocation or free, for the failure message (locks are only counted).
struct FirstCall
{
    int call = -1;
    std::size_t size = 0;
    long block = -1;
};

// Marks the calling thread for as long as the object lives.
struct ScopedAudioThread
{
    ScopedAudioThread() noexcept;
    ~ScopedAudioThread() noexcept;
};

Counts counts() noexcept;
FirstCall firstCall() noexcept;
void reset() noexcept;
void setBlock (long index) noexcept;   // recorded with the first counted call
const char* callName (int call) noexcept;
} // namespace audiothread
