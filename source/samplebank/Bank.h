#pragma once

#include "samplebank/Instrument.h"
#include "samplebank/SampleZone.h"

#include <cstddef>
#include <memory>

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

// Every recording the instrument plays: the zone sets the sampled instruments play and the two
// drone reeds.
// Plain data: the embedded loader fills it once, and tests fill it with small synthetic zones.
// The embedded loader's zones refer into the bank's arena rather than owning their floats, which
// is why a bank moves but does not copy (a copied AudioBuffer would still point into the arena).
struct SampleBank
{
    ZoneSet zoneSets[numZoneSets];
    SampleZone droneLow, droneHigh;
    SampleArena arena;

    // The zone a note of `instrument` plays: the nearest loaded root of its row's set; null for the
    // synthesised instruments. An index outside the instrument table plays the chanter set.
    const SampleZone* findZone (int instrument, int note) const noexcept;
};

// Decodes the recordings compiled into the module into `bank` (16-bit mono files into its arena),
// then hands the pages of the embedded files back to the system (on Linux), so that only the decoded
// floats stay resident.
void loadEmbeddedBank (SampleBank& bank);

// The embedded bank, decoded once per process and shared read-only by everyone who holds it: the
// first caller decodes it (a caller on another thread meanwhile waits and gets the same bank), and
// it is freed when the last holder lets go. Takes a lock and may decode for tens of milliseconds:
// call it when constructing, never on the audio thread.
std::shared_ptr<const SampleBank> sharedEmbeddedBank();
