#pragma once

#include <cstddef>

// One block of floats that the zones of a decoded bank refer into. Fresh pages of memory cost a
// fault each, and a bank is tens of megabytes: one block, in large pages where the system offers
// them, costs a few dozen instead of thousands. Owning and move-only.
class SampleArena
{
public:
    SampleArena() noexcept = default;
    explicit SampleArena (size_t numFloats);   // empty if the memory cannot be had
    ~SampleArena();

    SampleArena (SampleArena&& other) noexcept;
    SampleArena& operator= (SampleArena&& other) noexcept;
    SampleArena (const SampleArena&) = delete;
    SampleArena& operator= (const SampleArena&) = delete;

    float* data() const noexcept { return floats; }
    size_t size() const noexcept { return count; }
    bool contains (const float* p) const noexcept { return floats != nullptr && p >= floats && p < floats + count; }

private:
    void release() noexcept;

    float* floats = nullptr;
    size_t count = 0, mappedBytes = 0;
};
