#include "samplebank/SampleBank.h"

#include <BinaryData.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdlib>
#include <mutex>

#if JUCE_LINUX
 #include <sys/mman.h>
 #include <unistd.h>
#endif

void loadSample (SampleZone& zone, const void* data, int size, int root)
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
    // (the whole bank) is read straight into it; more channels are averaged.
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
    zone.sampleRate = reader->sampleRate;
    zone.rootNote = root;
    zone.loaded = true;
}

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
    if (isSynthesised (instrument))
        return nullptr;

    const auto setIndex = (instrument >= 0 && instrument < numSampledInstruments) ? instrument : bagpipes;
    return findZoneInSet (zoneSets[setIndex], note);
}

#define KESTRUNE_ROW(id, root) SampleSpec { BinaryData::id, BinaryData::id##Size, root }

namespace
{
const SampleSpec bagpipeTable[] = {
    KESTRUNE_ROW (F4_31_wav, 53),  KESTRUNE_ROW (G4_31_wav, 55),  KESTRUNE_ROW (A4_31_wav, 69),
    KESTRUNE_ROW (As4_31_wav, 70), KESTRUNE_ROW (B4_31_wav, 71),  KESTRUNE_ROW (C5_31_wav, 72),
    KESTRUNE_ROW (Cs5_31_wav, 73), KESTRUNE_ROW (D5_31_wav, 74),  KESTRUNE_ROW (Ds5_31_wav, 75),
    KESTRUNE_ROW (E5_31_wav, 76),  KESTRUNE_ROW (F5_31_wav, 77),  KESTRUNE_ROW (Fs5_31_wav, 78),
    KESTRUNE_ROW (G5_31_wav, 79),
};

const SampleSpec recorderTable[] = {
    KESTRUNE_ROW (recorder_A5_wav, 81),  KESTRUNE_ROW (recorder_A6_wav, 93),  KESTRUNE_ROW (recorder_As5_wav, 82),
    KESTRUNE_ROW (recorder_B5_wav, 83),  KESTRUNE_ROW (recorder_C5_wav, 72),  KESTRUNE_ROW (recorder_C6_wav, 84),
    KESTRUNE_ROW (recorder_Cs6_wav, 85), KESTRUNE_ROW (recorder_D5_wav, 74),  KESTRUNE_ROW (recorder_D6_wav, 86),
    KESTRUNE_ROW (recorder_E5_wav, 76),  KESTRUNE_ROW (recorder_E6_wav, 88),  KESTRUNE_ROW (recorder_F5_wav, 77),
    KESTRUNE_ROW (recorder_F6_wav, 89),  KESTRUNE_ROW (recorder_Fs5_wav, 78), KESTRUNE_ROW (recorder_G5_wav, 79),
    KESTRUNE_ROW (recorder_G6_wav, 91),  KESTRUNE_ROW (recorder_Gs5_wav, 80),
};

const SampleSpec harpTable[] = {
    KESTRUNE_ROW (harp_A2_wav, 45), KESTRUNE_ROW (harp_A6_wav, 93), KESTRUNE_ROW (harp_B1_wav, 35),
    KESTRUNE_ROW (harp_B3_wav, 59), KESTRUNE_ROW (harp_B5_wav, 83), KESTRUNE_ROW (harp_B6_wav, 95),
    KESTRUNE_ROW (harp_C5_wav, 72), KESTRUNE_ROW (harp_D2_wav, 38), KESTRUNE_ROW (harp_D6_wav, 86),
    KESTRUNE_ROW (harp_D7_wav, 98), KESTRUNE_ROW (harp_E1_wav, 28), KESTRUNE_ROW (harp_E3_wav, 52),
    KESTRUNE_ROW (harp_E5_wav, 76), KESTRUNE_ROW (harp_F2_wav, 41), KESTRUNE_ROW (harp_F4_wav, 65),
    KESTRUNE_ROW (harp_F6_wav, 89), KESTRUNE_ROW (harp_F7_wav, 101), KESTRUNE_ROW (harp_G1_wav, 31),
    KESTRUNE_ROW (harp_G3_wav, 55), KESTRUNE_ROW (harp_G5_wav, 79),
};

const SampleSpec guitarTable[] = {
    KESTRUNE_ROW (guitar_A1_wav, 33),  KESTRUNE_ROW (guitar_A3_wav, 57),  KESTRUNE_ROW (guitar_A5_wav, 81),
    KESTRUNE_ROW (guitar_As3_wav, 58), KESTRUNE_ROW (guitar_As5_wav, 82), KESTRUNE_ROW (guitar_B2_wav, 47),
    KESTRUNE_ROW (guitar_B4_wav, 71),  KESTRUNE_ROW (guitar_C2_wav, 36),  KESTRUNE_ROW (guitar_C4_wav, 60),
    KESTRUNE_ROW (guitar_C6_wav, 84),  KESTRUNE_ROW (guitar_Cs4_wav, 61), KESTRUNE_ROW (guitar_D2_wav, 38),
    KESTRUNE_ROW (guitar_D4_wav, 62),  KESTRUNE_ROW (guitar_Ds2_wav, 39), KESTRUNE_ROW (guitar_Ds5_wav, 75),
    KESTRUNE_ROW (guitar_E3_wav, 52),  KESTRUNE_ROW (guitar_E5_wav, 76),  KESTRUNE_ROW (guitar_F3_wav, 53),
    KESTRUNE_ROW (guitar_F5_wav, 77),  KESTRUNE_ROW (guitar_Fs4_wav, 66), KESTRUNE_ROW (guitar_G1_wav, 31),
    KESTRUNE_ROW (guitar_G3_wav, 55),  KESTRUNE_ROW (guitar_G5_wav, 79),  KESTRUNE_ROW (guitar_Gs3_wav, 56),
};

const SampleSpec organTable[] = {
    KESTRUNE_ROW (organ_C2_wav, 36),  KESTRUNE_ROW (organ_C3_wav, 48),  KESTRUNE_ROW (organ_C4_wav, 60),
    KESTRUNE_ROW (organ_C5_wav, 72),  KESTRUNE_ROW (organ_C6_wav, 84),  KESTRUNE_ROW (organ_C7_wav, 96),
    KESTRUNE_ROW (organ_Fs2_wav, 42), KESTRUNE_ROW (organ_Fs3_wav, 54), KESTRUNE_ROW (organ_Fs4_wav, 66),
    KESTRUNE_ROW (organ_Fs5_wav, 78), KESTRUNE_ROW (organ_Fs6_wav, 90),
};

const SampleSpec hornTable[] = {
    KESTRUNE_ROW (horn_C4_wav, 60), KESTRUNE_ROW (horn_C5_wav, 72),
};

// Once decoded, an embedded file is not read again until a bank is decoded anew. Its pages are
// clean, read-only pages of the module's file, resident only because the decoder touched them:
// handing them back keeps a process from holding the recordings twice (the 16-bit files beside
// their floats), and touching them again simply reads them back in. Only pages that lie wholly
// inside the file's bytes are released.
void releaseEmbeddedPages (const void* data, int size) noexcept
{
   #if JUCE_LINUX
    const auto page = (std::uintptr_t) sysconf (_SC_PAGESIZE);
    const auto first = ((std::uintptr_t) data + page - 1) / page * page;
    const auto end = ((std::uintptr_t) data + (std::uintptr_t) size) / page * page;
    if (end > first)
        madvise (reinterpret_cast<void*> (first), end - first, MADV_DONTNEED);
   #else
    juce::ignoreUnused (data, size);
   #endif
}

void loadEmbedded (SampleZone& zone, const SampleSpec& row)
{
    loadSample (zone, row.data, row.size, row.rootNote);
    releaseEmbeddedPages (row.data, row.size);
}

template <size_t N>
void loadSet (ZoneSet& set, const SampleSpec (&table)[N])
{
    set.numZones = 0;
    for (const auto& row : table)
    {
        if (set.numZones >= maxZonesPerSet)
            break;
        loadEmbedded (set.zones[set.numZones], row);
        ++set.numZones;
    }
}
} // namespace

void loadEmbeddedBank (SampleBank& bank)
{
    loadSet (bank.zoneSets[bagpipes], bagpipeTable);
    loadSet (bank.zoneSets[guitar], guitarTable);
    loadSet (bank.zoneSets[harp], harpTable);
    loadSet (bank.zoneSets[recorder], recorderTable);
    loadSet (bank.zoneSets[organ], organTable);
    loadSet (bank.zoneSets[horn], hornTable);

    loadEmbedded (bank.droneLow, KESTRUNE_ROW (drone_G2_1_wav, 43));
    loadEmbedded (bank.droneHigh, KESTRUNE_ROW (drone_G3_3_wav, 55));
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
