#include "Interpose.h"

#include <cerrno>
#include <dlfcn.h>
#include <pthread.h>

extern "C"
{
void* __libc_malloc (size_t);
void* __libc_calloc (size_t, size_t);
void* __libc_realloc (void*, size_t);
void __libc_free (void*);
void* __libc_memalign (size_t, size_t);
}

namespace audiothread
{
namespace
{
// Plain data only: these are touched from inside the allocator, where nothing may allocate.
thread_local bool marked = false;
std::atomic<long> calls[numCalls] {};
std::atomic<int> firstCallKind { -1 };
std::atomic<std::size_t> firstCallSize { 0 };
std::atomic<long> firstCallBlock { -1 };
std::atomic<long> currentBlock { -1 };

inline void note (Call call, std::size_t size = 0) noexcept
{
    if (! marked)
        return;
    calls[call].fetch_add (1, std::memory_order_relaxed);
    if (call == mutexLock || call == mutexTrylock)
        return;
    int expected = -1;
    if (firstCallKind.compare_exchange_strong (expected, call))
    {
        firstCallSize = size;
        firstCallBlock = currentBlock.load();
    }
}

bool isPowerOfTwo (std::size_t n) noexcept { return n != 0 && (n & (n - 1)) == 0; }

using MutexFunction = int (*) (pthread_mutex_t*);

// Looked up on first use; no function-local static with a guard, which could itself take a lock.
std::atomic<MutexFunction> nextLock { nullptr }, nextTrylock { nullptr };

MutexFunction next (std::atomic<MutexFunction>& cached, const char* name) noexcept
{
    auto function = cached.load();
    if (function == nullptr)
    {
        function = reinterpret_cast<MutexFunction> (dlsym (RTLD_NEXT, name));
        cached = function;
    }
    return function;
}
} // namespace

ScopedAudioThread::ScopedAudioThread() noexcept { marked = true; }
ScopedAudioThread::~ScopedAudioThread() noexcept { marked = false; }

Counts counts() noexcept
{
    Counts result;
    for (int i = 0; i < numCalls; ++i)
        result.calls[i] = calls[i].load();
    return result;
}

FirstCall firstCall() noexcept
{
    return { firstCallKind.load(), firstCallSize.load(), firstCallBlock.load() };
}

void reset() noexcept
{
    for (auto& c : calls)
        c = 0;
    firstCallKind = -1;
    firstCallSize = 0;
    firstCallBlock = -1;
}

void setBlock (long index) noexcept { currentBlock = index; }

const char* callName (int call) noexcept
{
    static const char* const names[numCalls] = { "malloc", "calloc", "realloc", "free", "posix_memalign",
                                                 "aligned_alloc", "memalign", "valloc", "pthread_mutex_lock",
                                                 "pthread_mutex_trylock" };
    return call >= 0 && call < numCalls ? names[call] : "none";
}
} // namespace audiothread

using namespace audiothread;

extern "C"
{
void* malloc (size_t size)
{
    note (malloc_, size);
    return __libc_malloc (size);
}

void* calloc (size_t count, size_t size)
{
    note (calloc_, count * size);
    return __libc_calloc (count, size);
}

void* realloc (void* pointer, size_t size)
{
    note (realloc_, size);
    return __libc_realloc (pointer, size);
}

void free (void* pointer)
{
    if (pointer != nullptr)
        note (free_);
    __libc_free (pointer);
}

int posix_memalign (void** result, size_t alignment, size_t size)
{
    note (posixMemalign, size);
    if (! isPowerOfTwo (alignment) || alignment % sizeof (void*) != 0)
        return EINVAL;
    auto* p = __libc_memalign (alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *result = p;
    return 0;
}

void* aligned_alloc (size_t alignment, size_t size)
{
    note (alignedAlloc, size);
    return __libc_memalign (alignment, size);
}

void* memalign (size_t alignment, size_t size)
{
    note (memalign_, size);
    return __libc_memalign (alignment, size);
}

void* valloc (size_t size)
{
    note (valloc_, size);
    return __libc_memalign (4096, size);
}

int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    note (mutexLock);
    return next (nextLock, "pthread_mutex_lock") (mutex);
}

int pthread_mutex_trylock (pthread_mutex_t* mutex)
{
    note (mutexTrylock);
    return next (nextTrylock, "pthread_mutex_trylock") (mutex);
}
}
