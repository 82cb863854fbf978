#include "samplebank/Bank.h"
#include "samplebank/RecordingData.h"
#include "samplebank/WavDecoder.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#if JUCE_LINUX
 #include <climits>
 #include <sys/mman.h>
 #include <sys/uio.h>
 #include <unistd.h>
#endif

const SampleZone* SampleBank::findZone (int instrument, int note) const noexcept
{
    const auto set = zoneSetOf (instrument);
    return set == noZones ? nullptr : findZoneInSet (zoneSets[set], note);
}

namespace
{
static_assert (std::size (recordingData) == std::size (recordings), "the load tables are made row for row");

constexpr bool everySetFits() noexcept
{
    for (int set = 0; set < numZoneSets; ++set)
    {
        int rows = 0;
        for (const auto& r : recordings)
            rows += r.set == set ? 1 : 0;
        if (rows > maxZonesPerSet)
            return false;
    }
    return true;
}

constexpr bool oneRecordingPerReed() noexcept
{
    int low = 0, high = 0;
    for (const auto& r : recordings)
    {
        low += r.reed == DroneReed::low ? 1 : 0;
        high += r.reed == DroneReed::high ? 1 : 0;
    }
    return low == 1 && high == 1;
}

static_assert (everySetFits(), "a zone set holds at most maxZonesPerSet recordings");
static_assert (oneRecordingPerReed(), "the list names one recording for each of the drone's reeds");

// The embedded recordings are clean, read-only pages of the module's file. Once a bank is decoded,
// none is read again until a bank is decoded anew: handing them back keeps a process from holding
// the recordings twice (the 16-bit files beside their floats), and touching them again simply reads
// them back in. One call per run of adjacent files rather than one per file; only pages that lie
// wholly inside a run are released.
void releaseEmbeddedPages (std::vector<std::pair<std::uintptr_t, std::uintptr_t>> spans) noexcept
{
   #if JUCE_LINUX
    const auto page = (std::uintptr_t) sysconf (_SC_PAGESIZE);
    std::sort (spans.begin(), spans.end());

    // Files apart by less than a page count as adjacent.
    for (size_t i = 0; i < spans.size();)
    {
        auto run = spans[i++];
        while (i < spans.size() && spans[i].first <= run.second + page)
            run.second = std::max (run.second, spans[i++].second);

        const auto first = (run.first + page - 1) / page * page;
        const auto end = run.second / page * page;
        if (end > first)
            madvise (reinterpret_cast<void*> (first), end - first, MADV_DONTNEED);
    }
   #else
    juce::ignoreUnused (spans);
   #endif
}

// One zone the embedded loader fills, the file it fills it from, and the room in the arena its
// floats may take: enough for every byte of the file as an int16, so that a copy of the file fits
// in the back half.
struct EmbeddedSlot
{
    SampleZone* zone;
    const Recording& row;
    RecordingData file;
    size_t start = 0, room = 0;   // in floats

    size_t bytes() const noexcept { return (size_t) std::max (0, file.size); }
    float* floats (const SampleArena& arena) const noexcept { return arena.data() + start; }
    char* back (const SampleArena& arena) const noexcept { return reinterpret_cast<char*> (floats (arena) + room) - bytes(); }
};

// The zone a recording of the list fills: the next free slot of its set, or its drone reed.
SampleZone* zoneFor (SampleBank& bank, const Recording& row)
{
    if (row.reed != DroneReed::none)
        return row.reed == DroneReed::low ? &bank.droneLow : &bank.droneHigh;
    auto& set = bank.zoneSets[row.set];
    return &set.zones[set.numZones++];
}

// Copies every file into the back of its room in the arena. The kernel copies the pages of the
// module's file straight from its cache, at a fraction of the cost of reading them ourselves, which
// takes a page fault every few pages (and under some virtual machines, one every page). False if it
// could not copy them all.
bool copyFilesIntoArena (const std::vector<EmbeddedSlot>& slots, const SampleArena& arena)
{
   #if JUCE_LINUX
    std::vector<iovec> local, remote;
    for (const auto& slot : slots)
    {
        local.push_back ({ slot.back (arena), slot.bytes() });
        remote.push_back ({ const_cast<char*> (slot.file.data), slot.bytes() });
    }

    for (size_t done = 0; done < slots.size(); done += IOV_MAX)
    {
        const auto count = std::min (slots.size() - done, (size_t) IOV_MAX);
        size_t bytes = 0;
        for (size_t i = done; i < done + count; ++i)
            bytes += local[i].iov_len;
        if (process_vm_readv (getpid(), local.data() + done, count, remote.data() + done, count, 0) != (ssize_t) bytes)
            return false;
    }
    return true;
   #else
    juce::ignoreUnused (slots, arena);
    return false;
   #endif
}
} // namespace

void loadEmbeddedBank (SampleBank& bank)
{
    for (auto& set : bank.zoneSets)
        set.numZones = 0;

    std::vector<EmbeddedSlot> slots;
    slots.reserve (std::size (recordings));
    for (size_t i = 0; i < std::size (recordings); ++i)
        slots.push_back ({ zoneFor (bank, recordings[i]), recordings[i], recordingData[i] });

    // Rooms start on cache-line boundaries.
    size_t arenaFloats = 0;
    for (auto& slot : slots)
    {
        slot.start = arenaFloats;
        slot.room = ((slot.bytes() + 1) / 2 + 15) / 16 * 16;
        arenaFloats += slot.room;
    }

    SampleArena arena (arenaFloats);
    const bool copied = arena.size() > 0 && copyFilesIntoArena (slots, arena);

    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> spans;
    for (auto& slot : slots)
    {
        auto& zone = *slot.zone;
        spans.push_back ({ (std::uintptr_t) slot.file.data, (std::uintptr_t) slot.file.data + slot.bytes() });

        // Decoded from the copy into its room, or from the file itself if there is no arena.
        const void* file = copied ? static_cast<const void*> (slot.back (arena)) : static_cast<const void*> (slot.file.data);
        float* room = arena.size() > 0 ? slot.floats (arena) : nullptr;
        loadSample (zone, file, slot.file.size, slot.row.rootNote, room, room != nullptr ? slot.room : 0);
    }
    releaseEmbeddedPages (std::move (spans));

    // Decoding a bank anew replaces its arena. A zone whose file failed this time keeps its
    // recording, which must then move out of the arena that goes.
    for (auto& slot : slots)
    {
        auto& buffer = slot.zone->buffer;
        if (buffer.getNumChannels() > 0 && bank.arena.contains (buffer.getReadPointer (0)))
        {
            juce::AudioBuffer<float> own;
            own.makeCopyOf (buffer);
            buffer = std::move (own);
        }
    }
    bank.arena = std::move (arena);
}

