#include "samplebank/SampleArena.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <new>
#include <utility>

#if JUCE_LINUX
 #include <sys/mman.h>
#endif

SampleArena::SampleArena (size_t numFloats)
{
    if (numFloats == 0)
        return;

   #if JUCE_LINUX
    // Mapped one large page (2 MB on the systems we ship for) longer than needed and trimmed to start
    // on a large-page boundary, so that the system can back all of it with large pages.
    constexpr size_t largePage = (size_t) 2 << 20;
    const auto bytes = (numFloats * sizeof (float) + largePage - 1) / largePage * largePage;
    auto* mapped = mmap (nullptr, bytes + largePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return;

    const auto start = (std::uintptr_t) mapped;
    const auto aligned = (start + largePage - 1) / largePage * largePage;
    if (aligned > start)
        munmap (mapped, aligned - start);
    if (start + largePage > aligned)
        munmap (reinterpret_cast<void*> (aligned + bytes), start + largePage - aligned);

    madvise (reinterpret_cast<void*> (aligned), bytes, MADV_HUGEPAGE);
   #ifdef MADV_POPULATE_WRITE
    // Every page is written at once anyway: faulting them all in one call costs less than one by one.
    madvise (reinterpret_cast<void*> (aligned), bytes, MADV_POPULATE_WRITE);
   #endif
    floats = reinterpret_cast<float*> (aligned);
    mappedBytes = bytes;
   #else
    floats = new (std::nothrow) float[numFloats];
    if (floats == nullptr)
        return;
   #endif
    count = numFloats;
}

SampleArena::~SampleArena()
{
    release();
}

SampleArena::SampleArena (SampleArena&& other) noexcept
    : floats (std::exchange (other.floats, nullptr)),
      count (std::exchange (other.count, 0)),
      mappedBytes (std::exchange (other.mappedBytes, 0))
{
}

SampleArena& SampleArena::operator= (SampleArena&& other) noexcept
{
    if (this != &other)
    {
        release();
        floats = std::exchange (other.floats, nullptr);
        count = std::exchange (other.count, 0);
        mappedBytes = std::exchange (other.mappedBytes, 0);
    }
    return *this;
}

void SampleArena::release() noexcept
{
    if (floats == nullptr)
        return;

   #if JUCE_LINUX
    munmap (floats, mappedBytes);
   #else
    delete[] floats;
   #endif
    floats = nullptr;
    count = mappedBytes = 0;
}

