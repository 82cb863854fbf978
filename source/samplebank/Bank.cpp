#include "samplebank/Bank.h"

#include <BinaryData.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if JUCE_LINUX
 #include <climits>
 #include <sys/mman.h>
 #include <sys/uio.h>
 #include <unistd.h>
#endif

namespace
{
bool isChunk (const unsigned char* p, const char* name) noexcept
{
    return std::memcmp (p, name, 4) == 0;
}

// The audio of a 16-bit mono PCM file, the one kind the bank ships.
struct Mono16
{
    const unsigned char* samples = nullptr;
    int frames = 0;
    double sampleRate = 0.0;
};

// Finds the audio of a 16-bit mono PCM file, walking its chunks as JUCE's WAV reader does. It answers
// only for files that reader could not read any other way: one `fmt ` chunk (PCM, mono, 16 bits, a
// positive rate) before one `data` chunk, every chunk it meets lying whole inside the bytes given,
// none empty, and at least one frame. For anything else it returns false and the file goes through
// the reader itself, which thus still decodes, pads or refuses everything else exactly as before.
bool findMono16 (const void* data, int size, Mono16& found) noexcept
{
    if (data == nullptr || size < 12)
        return false;

    const auto* bytes = static_cast<const unsigned char*> (data);
    const auto total = (std::uint64_t) size;
    if (! isChunk (bytes, "RIFF") || ! isChunk (bytes + 8, "WAVE"))
        return false;

    // Like the reader, look no further than the RIFF chunk's own length, nor past the bytes there are.
    const auto riffEnd = (std::uint64_t) juce::ByteOrder::littleEndianInt (bytes + 4) + 8;
    bool haveFormat = false, haveData = false;
    Mono16 pcm;

    for (std::uint64_t pos = 12; pos < riffEnd && pos < total;)
    {
        if (total - pos < 8)
            return false;

        const auto* header = bytes + pos;
        const std::uint64_t length = juce::ByteOrder::littleEndianInt (header + 4);
        const auto body = pos + 8;

        // The reader stops at an empty chunk of a kind it does not know and reads past a short one.
        if (length == 0 || body + length > total)
            return false;

        if (isChunk (header, "fmt "))
        {
            if (haveFormat || haveData || length < 16)
                return false;

            const auto* format = bytes + body;
            const auto rate = (std::int32_t) juce::ByteOrder::littleEndianInt (format + 4);
            const auto isPcm = juce::ByteOrder::littleEndianShort (format) == 1;
            const auto isMono = juce::ByteOrder::littleEndianShort (format + 2) == 1;
            const auto is16Bit = juce::ByteOrder::littleEndianShort (format + 14) == 16;
            if (! isPcm || ! isMono || ! is16Bit || rate <= 0)
                return false;

            pcm.sampleRate = (double) rate;
            haveFormat = true;
        }
        else if (isChunk (header, "data"))
        {
            if (! haveFormat || haveData)
                return false;

            pcm.samples = bytes + body;
            pcm.frames = (int) (length / 2);
            haveData = true;
        }

        pos = body + length + (length & 1);   // odd chunks carry a pad byte
    }

    // The data starts at byte 44 or later and lies inside the file, so the loader's minimal-header
    // refusal of short files can never apply here.
    if (! haveData || pcm.frames <= 0)
        return false;

    found = pcm;
    return true;
}

// The reader's conversion: int16 to int32 (<< 16), then times 1 / 2^31, which together are exactly
// v / 32768 in float; every int16 is exact in a float, and so is the product.
// The source may lie inside the destination's own bytes, ahead of it (the embedded loader copies each
// file into the back of the room its floats take): float k then covers only int16s numbered k or
// lower, so converting in order, a chunk at a time through a buffer of our own, reads every value
// before it is overwritten, and the compiler, sure the two cannot overlap, vectorises the loop.
void convertMono16 (const unsigned char* source, float* dest, int frames) noexcept
{
    constexpr float scale = 1.0f / 32768.0f;
    constexpr int chunk = 2048;
    std::int16_t values[chunk];

    for (int done = 0; done < frames; done += chunk)
    {
        const auto n = std::min (chunk, frames - done);
        std::memcpy (values, source + 2 * (size_t) done, 2 * (size_t) n);
       #if JUCE_BIG_ENDIAN
        for (int i = 0; i < n; ++i)
            values[i] = (std::int16_t) juce::ByteOrder::swap ((std::uint16_t) values[i]);
       #endif
        for (int i = 0; i < n; ++i)
            dest[done + i] = (float) values[i] * scale;
    }
}

// The last step of every successful decode, once the zone's buffer holds the audio.
void markLoaded (SampleZone& zone, double sampleRate, int root) noexcept
{
    zone.sampleRate = sampleRate;
    zone.rootNote = root;
    zone.loaded = true;
}

// Everything that is not 16-bit mono PCM: JUCE's reader.
void loadWithReader (SampleZone& zone, const void* data, int size, int root)
{
    if (data == nullptr || size <= 0)
        return;

    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (
        format.createReaderFor (new juce::MemoryInputStream (data, (size_t) size, false), true));

    if (reader == nullptr)
        return;

    // Playback divides by the length, so a recording without frames is no recording at all.
    if (reader->lengthInSamples <= 0 || reader->numChannels == 0 || reader->bitsPerSample == 0)
        return;

    // The reader believes the header's length and pads missing bytes with silence. Audio that cannot
    // fit in the bytes after a minimal 44-byte header is a cut-short (or lying) file: refuse it
    // rather than play silence or allocate for data that is not there.
    const auto bytesPerFrame = (juce::int64) reader->numChannels * (juce::int64) ((reader->bitsPerSample + 7) / 8);
    if (reader->lengthInSamples > ((juce::int64) size - 44) / bytesPerFrame)
        return;

    const auto frameCount = (int) reader->lengthInSamples;
    const auto channelCount = (int) reader->numChannels;

    // Decoded into a buffer of its own so that a failed read leaves the zone as it was. A mono file
    // is read straight into it; more channels are averaged.
    juce::AudioBuffer<float> decoded (1, frameCount);
    if (channelCount == 1)
    {
        if (! reader->read (&decoded, 0, frameCount, 0, true, true))
            return;
    }
    else
    {
        juce::AudioBuffer<float> channels (channelCount, frameCount);
        if (! reader->read (&channels, 0, frameCount, 0, true, true))
            return;

        decoded.clear();
        for (int c = 0; c < channelCount; ++c)
            decoded.addFrom (0, 0, channels, c, 0, frameCount, 1.0f / (float) channelCount);
    }

    zone.buffer = std::move (decoded);
    markLoaded (zone, reader->sampleRate, root);
}
} // namespace

void loadSample (SampleZone& zone, const void* data, int size, int root, float* room, size_t roomFloats)
{
    Mono16 pcm;
    if (! findMono16 (data, size, pcm))
    {
        loadWithReader (zone, data, size, root);
        return;
    }

    if (room != nullptr && (size_t) pcm.frames <= roomFloats)
    {
        convertMono16 (pcm.samples, room, pcm.frames);
        zone.buffer.setDataToReferTo (&room, 1, pcm.frames);
    }
    else
    {
        juce::AudioBuffer<float> decoded (1, pcm.frames);
        convertMono16 (pcm.samples, decoded.getWritePointer (0), pcm.frames);
        zone.buffer = std::move (decoded);
    }
    markLoaded (zone, pcm.sampleRate, root);
}

//==============================================================================
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

//==============================================================================
const SampleZone* findZoneInSet (const ZoneSet& set, int note) noexcept
{
    const SampleZone* best = nullptr;
    int bestDistance = 999;
    const auto count = juce::jlimit (0, maxZonesPerSet, set.numZones);

    for (int i = 0; i < count; ++i)
    {
        const auto& zone = set.zones[i];
        if (! zone.loaded)
            continue;

        const auto d = std::abs (note - zone.rootNote);
        if (d < bestDistance)
        {
            best = &zone;
            bestDistance = d;
        }
    }
    return best;
}

const SampleZone* SampleBank::findZone (int instrument, int note) const noexcept
{
    const auto set = zoneSetOf (instrument);
    return set == noZones ? nullptr : findZoneInSet (zoneSets[set], note);
}

#define KESTRUNE_ROW(id, root) SampleRow { BinaryData::id, BinaryData::id##Size, root }

namespace
{
// The chanter. F4 and G4 are loaded under the roots of F3 and G3 (53 and 55), an octave below the
// pitch they sound at: a chanter has no notes below its compass, so keys up to D4 play its two
// lowest recordings an octave above the key instead of pulling A4 far down.
const SampleRow bagpipeTable[] = {
    KESTRUNE_ROW (F4_31_wav, 53),  KESTRUNE_ROW (G4_31_wav, 55),  KESTRUNE_ROW (A4_31_wav, 69),
    KESTRUNE_ROW (As4_31_wav, 70), KESTRUNE_ROW (B4_31_wav, 71),  KESTRUNE_ROW (C5_31_wav, 72),
    KESTRUNE_ROW (Cs5_31_wav, 73), KESTRUNE_ROW (D5_31_wav, 74),  KESTRUNE_ROW (Ds5_31_wav, 75),
    KESTRUNE_ROW (E5_31_wav, 76),  KESTRUNE_ROW (F5_31_wav, 77),  KESTRUNE_ROW (Fs5_31_wav, 78),
    KESTRUNE_ROW (G5_31_wav, 79),
};

const SampleRow recorderTable[] = {
    KESTRUNE_ROW (recorder_A5_wav, 81),  KESTRUNE_ROW (recorder_A6_wav, 93),  KESTRUNE_ROW (recorder_As5_wav, 82),
    KESTRUNE_ROW (recorder_B5_wav, 83),  KESTRUNE_ROW (recorder_C5_wav, 72),  KESTRUNE_ROW (recorder_C6_wav, 84),
    KESTRUNE_ROW (recorder_Cs6_wav, 85), KESTRUNE_ROW (recorder_D5_wav, 74),  KESTRUNE_ROW (recorder_D6_wav, 86),
    KESTRUNE_ROW (recorder_E5_wav, 76),  KESTRUNE_ROW (recorder_E6_wav, 88),  KESTRUNE_ROW (recorder_F5_wav, 77),
    KESTRUNE_ROW (recorder_F6_wav, 89),  KESTRUNE_ROW (recorder_Fs5_wav, 78), KESTRUNE_ROW (recorder_G5_wav, 79),
    KESTRUNE_ROW (recorder_G6_wav, 91),  KESTRUNE_ROW (recorder_Gs5_wav, 80),
};

const SampleRow harpTable[] = {
    KESTRUNE_ROW (harp_A2_wav, 45), KESTRUNE_ROW (harp_A6_wav, 93), KESTRUNE_ROW (harp_B1_wav, 35),
    KESTRUNE_ROW (harp_B3_wav, 59), KESTRUNE_ROW (harp_B5_wav, 83), KESTRUNE_ROW (harp_B6_wav, 95),
    KESTRUNE_ROW (harp_C5_wav, 72), KESTRUNE_ROW (harp_D2_wav, 38), KESTRUNE_ROW (harp_D6_wav, 86),
    KESTRUNE_ROW (harp_D7_wav, 98), KESTRUNE_ROW (harp_E1_wav, 28), KESTRUNE_ROW (harp_E3_wav, 52),
    KESTRUNE_ROW (harp_E5_wav, 76), KESTRUNE_ROW (harp_F2_wav, 41), KESTRUNE_ROW (harp_F4_wav, 65),
    KESTRUNE_ROW (harp_F6_wav, 89), KESTRUNE_ROW (harp_F7_wav, 101), KESTRUNE_ROW (harp_G1_wav, 31),
    KESTRUNE_ROW (harp_G3_wav, 55), KESTRUNE_ROW (harp_G5_wav, 79),
};

const SampleRow guitarTable[] = {
    KESTRUNE_ROW (guitar_A1_wav, 33),  KESTRUNE_ROW (guitar_A3_wav, 57),  KESTRUNE_ROW (guitar_A5_wav, 81),
    KESTRUNE_ROW (guitar_As3_wav, 58), KESTRUNE_ROW (guitar_As5_wav, 82), KESTRUNE_ROW (guitar_B2_wav, 47),
    KESTRUNE_ROW (guitar_B4_wav, 71),  KESTRUNE_ROW (guitar_C2_wav, 36),  KESTRUNE_ROW (guitar_C4_wav, 60),
    KESTRUNE_ROW (guitar_C6_wav, 84),  KESTRUNE_ROW (guitar_Cs4_wav, 61), KESTRUNE_ROW (guitar_D2_wav, 38),
    KESTRUNE_ROW (guitar_D4_wav, 62),  KESTRUNE_ROW (guitar_Ds2_wav, 39), KESTRUNE_ROW (guitar_Ds5_wav, 75),
    KESTRUNE_ROW (guitar_E3_wav, 52),  KESTRUNE_ROW (guitar_E5_wav, 76),  KESTRUNE_ROW (guitar_F3_wav, 53),
    KESTRUNE_ROW (guitar_F5_wav, 77),  KESTRUNE_ROW (guitar_Fs4_wav, 66), KESTRUNE_ROW (guitar_G1_wav, 31),
    KESTRUNE_ROW (guitar_G3_wav, 55),  KESTRUNE_ROW (guitar_G5_wav, 79),  KESTRUNE_ROW (guitar_Gs3_wav, 56),
};

const SampleRow organTable[] = {
    KESTRUNE_ROW (organ_C2_wav, 36),  KESTRUNE_ROW (organ_C3_wav, 48),  KESTRUNE_ROW (organ_C4_wav, 60),
    KESTRUNE_ROW (organ_C5_wav, 72),  KESTRUNE_ROW (organ_C6_wav, 84),  KESTRUNE_ROW (organ_C7_wav, 96),
    KESTRUNE_ROW (organ_Fs2_wav, 42), KESTRUNE_ROW (organ_Fs3_wav, 54), KESTRUNE_ROW (organ_Fs4_wav, 66),
    KESTRUNE_ROW (organ_Fs5_wav, 78), KESTRUNE_ROW (organ_Fs6_wav, 90),
};

const SampleRow hornTable[] = {
    KESTRUNE_ROW (horn_C4_wav, 60), KESTRUNE_ROW (horn_C5_wav, 72),
};

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
    SampleRow row;
    size_t start = 0, room = 0;   // in floats

    size_t bytes() const noexcept { return (size_t) std::max (0, row.size); }
    float* floats (const SampleArena& arena) const noexcept { return arena.data() + start; }
    char* back (const SampleArena& arena) const noexcept { return reinterpret_cast<char*> (floats (arena) + room) - bytes(); }
};

// The files of each zone set, in the order of the sets.
struct ZoneSetFiles
{
    ZoneSetId id;
    const SampleRow* rows;
    size_t numRows;
};

#define KESTRUNE_SET(id, table) ZoneSetFiles { id, table, std::size (table) }

constexpr ZoneSetFiles zoneSetFiles[] = {
    KESTRUNE_SET (chanterZones, bagpipeTable), KESTRUNE_SET (recorderZones, recorderTable),
    KESTRUNE_SET (harpZones, harpTable),       KESTRUNE_SET (guitarZones, guitarTable),
    KESTRUNE_SET (organZones, organTable),     KESTRUNE_SET (hornZones, hornTable),
};

#undef KESTRUNE_SET

constexpr bool zoneSetFilesInOrder() noexcept
{
    for (int i = 0; i < (int) std::size (zoneSetFiles); ++i)
        if (zoneSetFiles[i].id != i || zoneSetFiles[i].numRows > (size_t) maxZonesPerSet)
            return false;
    return (int) std::size (zoneSetFiles) == numZoneSets;
}

static_assert (zoneSetFilesInOrder(), "one list of files per zone set, in the sets' order, each fitting a set");

void addSet (std::vector<EmbeddedSlot>& slots, ZoneSet& set, const ZoneSetFiles& files)
{
    set.numZones = 0;
    for (size_t i = 0; i < files.numRows; ++i)
        slots.push_back ({ &set.zones[set.numZones++], files.rows[i] });
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
        remote.push_back ({ const_cast<char*> (slot.row.data), slot.bytes() });
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
    std::vector<EmbeddedSlot> slots;
    slots.reserve (numZoneSets * maxZonesPerSet + 2);
    for (const auto& files : zoneSetFiles)
        addSet (slots, bank.zoneSets[files.id], files);
    slots.push_back ({ &bank.droneLow, KESTRUNE_ROW (drone_G2_1_wav, 43) });
    slots.push_back ({ &bank.droneHigh, KESTRUNE_ROW (drone_G3_3_wav, 55) });

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
        spans.push_back ({ (std::uintptr_t) slot.row.data, (std::uintptr_t) slot.row.data + slot.bytes() });

        // Decoded from the copy into its room, or from the file itself if there is no arena.
        const void* file = copied ? static_cast<const void*> (slot.back (arena)) : static_cast<const void*> (slot.row.data);
        float* room = arena.size() > 0 ? slot.floats (arena) : nullptr;
        loadSample (zone, file, slot.row.size, slot.row.rootNote, room, room != nullptr ? slot.room : 0);
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

#undef KESTRUNE_ROW

std::shared_ptr<const SampleBank> sharedEmbeddedBank()
{
    // The cache holds only a weak reference, so the decoded audio goes with the last instance.
    static std::mutex mutex;
    static std::weak_ptr<const SampleBank> cache;

    const std::lock_guard<std::mutex> lock (mutex);
    if (auto bank = cache.lock())
        return bank;

    // Not make_shared, which would put the bank inside the control block that the cache keeps.
    std::shared_ptr<SampleBank> bank (new SampleBank());
    loadEmbeddedBank (*bank);
    cache = bank;
    return bank;
}
