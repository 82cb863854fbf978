#include <gtest/gtest.h>

#include "SampleNames.h"
#include "samplebank/SampleBank.h"

#include <BinaryData.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <cstring>
#include <set>

namespace
{
// Decoding the whole bank takes a while; the read-only checks share one.
class EmbeddedBank : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        bank = std::make_unique<SampleBank>();
        loadEmbeddedBank (*bank);
    }
    static void TearDownTestSuite() { bank.reset(); }

    // The set index that holds `zone`, or -1 (a drone, or not in any set).
    static int setOf (const SampleZone* zone)
    {
        for (int s = 0; s < 6; ++s)
            if (zone >= bank->zoneSets[s].zones && zone < bank->zoneSets[s].zones + maxZonesPerSet)
                return s;
        return -1;
    }

    static inline std::unique_ptr<SampleBank> bank;
};

bool sameAudio (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    return a.getNumChannels() == 1 && b.getNumChannels() == 1 && a.getNumSamples() == b.getNumSamples()
        && std::memcmp (a.getReadPointer (0), b.getReadPointer (0), sizeof (float) * (size_t) a.getNumSamples()) == 0;
}
} // namespace

TEST_F (EmbeddedBank, FindZoneTakesNearestLoadedRootAndEarlierSlotOnTies)
{
    constexpr int none = -1;
    struct Case { int instrument, note, expectedSet, expectedRoot; };
    const Case cases[] = {
        { 4, 39, 4, 36 },     // organ_C2 and organ_Fs2 both 3 away: the earlier slot
        { 0, 54, 0, 53 },     // F4_31 (root 53) and G4_31 (55) tie: F4_31
        { 0, 62, 0, 55 },     // G4_31 (55) and A4_31 (69) tie at 7: G4_31
        { 0, 63, 0, 69 },     // A4_31
        { 3, 100, 3, 84 },    // guitar_C6, 16 semitones up
        { 5, 66, 5, 60 },     // horn: a tie between 60 and 72 keeps C4
        { 5, 67, 5, 72 },
        { 2, 72, 2, 72 },     // an exact root
        { 1, 0, 1, 72 },      // below the range: the lowest recorder zone
        { 2, 127, 2, 101 },   // above it: harp_F7
        { 6, 60, none, none }, // CHANT and RHODES have no recordings
        { 7, 0, none, none },
        { 7, 127, none, none },
        { -1, 54, 0, 53 },    // out-of-range instruments play the chanter set
        { 8, 62, 0, 55 },
        { 99, 63, 0, 69 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "instrument " << c.instrument << ", note " << c.note);
        const auto* zone = bank->findZone (c.instrument, c.note);
        if (c.expectedRoot == none)
        {
            EXPECT_EQ (zone, nullptr);
            continue;
        }
        ASSERT_NE (zone, nullptr);
        EXPECT_EQ (setOf (zone), c.expectedSet);
        EXPECT_EQ (zone->rootNote, c.expectedRoot);
    }
}

TEST_F (EmbeddedBank, ConstructionLoadsEverySlotAndBothDrones)
{
    const int expectedSizes[] = { 13, 17, 20, 24, 11, 2 };
    for (int s = 0; s < 6; ++s)
    {
        SCOPED_TRACE (testing::Message() << "set " << s);
        const auto& set = bank->zoneSets[s];
        ASSERT_EQ (set.numZones, expectedSizes[s]);
        for (int i = 0; i < maxZonesPerSet; ++i)
        {
            const auto& zone = set.zones[i];
            if (i < set.numZones)
            {
                EXPECT_TRUE (zone.loaded) << "slot " << i;
                EXPECT_EQ (zone.buffer.getNumChannels(), 1) << "slot " << i;
                EXPECT_GT (zone.buffer.getNumSamples(), 0) << "slot " << i;
                EXPECT_EQ (zone.sampleRate, 44100.0) << "slot " << i;
            }
            else
            {
                EXPECT_FALSE (zone.loaded) << "slot " << i;
                EXPECT_EQ (zone.buffer.getNumSamples(), 0) << "slot " << i;
            }
        }
    }

    EXPECT_TRUE (bank->droneLow.loaded);
    EXPECT_EQ (bank->droneLow.rootNote, 43);
    EXPECT_EQ (bank->droneLow.buffer.getNumSamples(), 106512);
    EXPECT_TRUE (bank->droneHigh.loaded);
    EXPECT_EQ (bank->droneHigh.rootNote, 55);
    EXPECT_EQ (bank->droneHigh.buffer.getNumSamples(), 176400);
}

// Each embedded recording, decoded on its own, must turn up in exactly one zone of the right set (or
// drone) under the root its name spells: this checks the load tables against the resources.
TEST_F (EmbeddedBank, EveryRecordingIsLoadedOnceUnderItsRoot)
{
    std::vector<const SampleZone*> zones;
    for (const auto& set : bank->zoneSets)
        for (int i = 0; i < set.numZones; ++i)
            zones.push_back (&set.zones[i]);
    zones.push_back (&bank->droneLow);
    zones.push_back (&bank->droneHigh);

    std::set<const SampleZone*> matched;
    int recordings = 0;
    for (int r = 0; r < BinaryData::namedResourceListSize; ++r)
    {
        const juce::String fileName (BinaryData::originalFilenames[r]);
        if (! fileName.endsWith (".wav"))
            continue;
        ++recordings;
        SCOPED_TRACE (fileName.toStdString());

        int size = 0;
        const auto* data = BinaryData::getNamedResource (BinaryData::namedResourceList[r], size);
        SampleZone decoded;
        loadSample (decoded, data, size, 0);
        ASSERT_TRUE (decoded.loaded);

        std::vector<const SampleZone*> hits;
        for (const auto* zone : zones)
            if (sameAudio (zone->buffer, decoded.buffer))
                hits.push_back (zone);
        ASSERT_EQ (hits.size(), 1u);
        matched.insert (hits.front());

        const auto expected = describeRecording (fileName);
        EXPECT_EQ (hits.front()->rootNote, expected.rootNote);
        if (expected.set >= 0)
            EXPECT_EQ (setOf (hits.front()), expected.set);
        else
            EXPECT_EQ (hits.front(), expected.rootNote == 43 ? &bank->droneLow : &bank->droneHigh);
    }
    EXPECT_EQ (recordings, 89);
    EXPECT_EQ (matched.size(), zones.size());
}

TEST (SampleZoneChoice, UnloadedZoneIsNeverChosenEvenAtItsRoot)
{
    ZoneSet set;
    set.numZones = 3;
    set.zones[0].rootNote = 60;   // left unloaded
    set.zones[1].rootNote = 64;
    set.zones[1].loaded = true;
    set.zones[2].rootNote = 55;
    set.zones[2].loaded = true;

    ASSERT_NE (findZoneInSet (set, 60), nullptr);
    EXPECT_EQ (findZoneInSet (set, 60), &set.zones[1]);

    set.numZones = 1;   // only the unloaded slot counts
    EXPECT_EQ (findZoneInSet (set, 60), nullptr);

    set.numZones = 0;
    EXPECT_EQ (findZoneInSet (set, 64), nullptr);

    set.numZones = 1000;  // a count past the capacity reads no further than the 25 slots
    EXPECT_EQ (findZoneInSet (set, 56), &set.zones[2]);

    // The same through the bank: with organ_C2 unloaded, note 36 falls to organ_Fs2 (root 42).
    SampleBank embedded;
    loadEmbeddedBank (embedded);
    embedded.zoneSets[organ].zones[0].loaded = false;
    const auto* zone = embedded.findZone (organ, 36);
    ASSERT_NE (zone, nullptr);
    EXPECT_EQ (zone->rootNote, 42);
}

//==============================================================================
namespace
{
juce::MemoryBlock makeWav (const juce::AudioBuffer<float>& audio, double sampleRate, int bits)
{
    juce::MemoryBlock bytes;
    {
        juce::WavAudioFormat format;
        std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (
            new juce::MemoryOutputStream (bytes, false), sampleRate, (unsigned int) audio.getNumChannels(), bits, {}, 0));
        if (writer == nullptr)
            return {};
        writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    }
    return bytes;
}

juce::AudioBuffer<float> ramps (int channels, int frames)
{
    juce::AudioBuffer<float> audio (channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample (c, i, 0.9f * std::sin (0.01f * (float) (i + 1) * (float) (c + 1)) * (c % 2 == 0 ? 1.0f : -0.5f));
    return audio;
}
} // namespace

TEST (SampleDecoder, KeepsTheAverageOfAllChannelsAtTheFilesRate)
{
    struct Case { int channels; double rate; int bits; };
    const Case cases[] = { { 1, 44100.0, 16 }, { 2, 44100.0, 16 }, { 2, 48000.0, 24 }, { 1, 22050.0, 32 }, { 4, 96000.0, 24 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << c.channels << " ch, " << c.rate << " Hz, " << c.bits << " bit");
        const auto audio = ramps (c.channels, 3000);
        const auto bytes = makeWav (audio, c.rate, c.bits);
        ASSERT_GT (bytes.getSize(), 0u);

        SampleZone zone;
        loadSample (zone, bytes.getData(), (int) bytes.getSize(), 61);
        ASSERT_TRUE (zone.loaded);
        EXPECT_EQ (zone.rootNote, 61);
        EXPECT_EQ (zone.sampleRate, c.rate);
        ASSERT_EQ (zone.buffer.getNumChannels(), 1);
        ASSERT_EQ (zone.buffer.getNumSamples(), 3000);

        const auto tolerance = c.bits == 16 ? 1.0e-4f : 1.0e-6f;
        for (int i = 0; i < 3000; i += 7)
        {
            float mean = 0.0f;
            for (int ch = 0; ch < c.channels; ++ch)
                mean += audio.getSample (ch, i) / (float) c.channels;
            ASSERT_NEAR (zone.buffer.getSample (0, i), mean, tolerance) << "frame " << i;
        }
    }
}

// Anything the WAV reader refuses, and a file without frames (playback divides by the length), leaves
// the zone exactly as it was: a fresh zone stays unloaded, a loaded one keeps its recording.
TEST (SampleDecoder, RejectedDataLeavesTheZoneUntouched)
{
    const auto valid = makeWav (ramps (1, 500), 44100.0, 16);
    const auto empty = makeWav (juce::AudioBuffer<float> (1, 0), 44100.0, 16);
    ASSERT_GT (empty.getSize(), 0u);

    // A header that claims far more audio than the file holds.
    auto lying = valid;
    for (size_t i = 12; i + 8 <= lying.getSize(); ++i)
        if (std::memcmp (static_cast<char*> (lying.getData()) + i, "data", 4) == 0)
        {
            const uint32_t claimed = 0x7ffffff0;
            std::memcpy (static_cast<char*> (lying.getData()) + i + 4, &claimed, 4);   // little-endian host
            break;
        }

    juce::MemoryBlock garbage (4096);
    juce::Random rng (7);
    rng.fillBitsRandomly (garbage.getData(), garbage.getSize());

    struct Case { const char* what; const void* data; int size; };
    const Case cases[] = {
        { "null data", nullptr, 100 },
        { "no bytes", valid.getData(), 0 },
        { "negative size", valid.getData(), -5 },
        { "random bytes", garbage.getData(), (int) garbage.getSize() },
        { "cut inside RIFF header", valid.getData(), 10 },
        { "cut inside fmt chunk", valid.getData(), 30 },
        { "cut before the data chunk", valid.getData(), 36 },
        { "zero frames", empty.getData(), (int) empty.getSize() },
        { "cut inside the audio", valid.getData(), (int) valid.getSize() - 100 },
        { "claims 2 GB of audio", lying.getData(), (int) lying.getSize() },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        SampleZone fresh;
        loadSample (fresh, c.data, c.size, 60);
        EXPECT_FALSE (fresh.loaded);
        EXPECT_EQ (fresh.buffer.getNumChannels(), 0);
        EXPECT_EQ (fresh.rootNote, 0);

        SampleZone previous;
        loadSample (previous, valid.getData(), (int) valid.getSize(), 40);
        ASSERT_TRUE (previous.loaded);
        const auto before = previous.buffer;
        loadSample (previous, c.data, c.size, 60);
        EXPECT_TRUE (previous.loaded);
        EXPECT_EQ (previous.rootNote, 40);
        EXPECT_TRUE (sameAudio (previous.buffer, before));
    }
}
