#include <gtest/gtest.h>

#include "samplebank/Bank.h"
#include "samplebank/WavDecoder.h"

#include <BinaryData.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

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
        for (int s = 0; s < numZoneSets; ++s)
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

// A mono file as JUCE's WAV reader decodes it, every frame its header claims: the reference the
// bank's own 16-bit decoder must match bit for bit.
struct ReaderDecode
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0.0;
};

ReaderDecode decodeWithReader (const void* data, size_t size)
{
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (
        format.createReaderFor (new juce::MemoryInputStream (data, size, false), true));
    ReaderDecode d;
    if (reader == nullptr || reader->numChannels != 1 || reader->lengthInSamples <= 0)
        return d;
    d.audio.setSize (1, (int) reader->lengthInSamples);
    reader->read (&d.audio, 0, d.audio.getNumSamples(), 0, true, true);
    d.sampleRate = reader->sampleRate;
    return d;
}

// Zones of a decoded bank refer into its arena: a copy would share it, so a bank only moves.
static_assert (! std::is_copy_constructible_v<SampleBank> && ! std::is_copy_assignable_v<SampleBank>);
static_assert (std::is_nothrow_move_constructible_v<SampleArena>);
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
        { numInstruments, 62, 0, 55 },
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

// Each instrument plays the set its row names, whatever its place in the table; a synthesised
// one plays none.
TEST_F (EmbeddedBank, EveryInstrumentPlaysItsRowsZoneSet)
{
    for (const auto& row : instrumentTable)
    {
        const auto* zone = bank->findZone (row.id, 64);
        if (row.zoneSet == noZones)
            EXPECT_EQ (zone, nullptr) << row.name;
        else
            EXPECT_EQ (setOf (zone), row.zoneSet) << row.name;
    }
}

TEST_F (EmbeddedBank, ConstructionLoadsEverySlotAndBothDrones)
{
    for (int s = 0; s < numZoneSets; ++s)
    {
        SCOPED_TRACE (zoneSetNames[s]);
        const auto& set = bank->zoneSets[s];
        ASSERT_EQ (set.numZones, std::count_if (std::begin (recordings), std::end (recordings), [s] (const Recording& r) { return r.set == s; }));
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

namespace
{
// The embedded file a row of the list names, found by its original name rather than through the
// load tables made from the list, so that a table pointing at the wrong file shows.
juce::MemoryBlock embeddedFile (const char* fileName)
{
    for (int r = 0; r < BinaryData::namedResourceListSize; ++r)
        if (std::strcmp (BinaryData::originalFilenames[r], fileName) == 0)
        {
            int size = 0;
            const auto* data = BinaryData::getNamedResource (BinaryData::namedResourceList[r], size);
            return { data, (size_t) size };
        }
    return {};
}

// The zone row `index` of the list fills: the drone reed it names, or its place among its set's rows.
const SampleZone& zoneOfRow (const SampleBank& bank, size_t index)
{
    const auto& row = recordings[index];
    if (row.reed != DroneReed::none)
        return row.reed == DroneReed::low ? bank.droneLow : bank.droneHigh;
    const auto slot = std::count_if (std::begin (recordings), std::begin (recordings) + (std::ptrdiff_t) index,
                                     [&row] (const Recording& r) { return r.set == row.set; });
    return bank.zoneSets[row.set].zones[(size_t) slot];
}
} // namespace

// Every row of the list is embedded, and nothing else with its extension is.
TEST (EmbeddedFiles, AreExactlyTheListedRecordings)
{
    std::set<std::string> listed, embedded;
    for (const auto& row : recordings)
    {
        EXPECT_TRUE (listed.insert (row.file).second) << row.file << " listed twice";
        EXPECT_GT (embeddedFile (row.file).getSize(), 44u) << row.file;
    }
    for (int r = 0; r < BinaryData::namedResourceListSize; ++r)
        if (juce::String (BinaryData::originalFilenames[r]).endsWith (".wav"))
            embedded.insert (BinaryData::originalFilenames[r]);
    EXPECT_EQ (embedded, listed);
}

// Each row of the list, decoded on its own from the file it names, is the zone the row fills, under
// the row's root: this checks the load tables made from the list against the files.
TEST_F (EmbeddedBank, EveryRecordingIsLoadedIntoItsRowsZoneUnderItsRoot)
{
    for (size_t i = 0; i < std::size (recordings); ++i)
    {
        const auto& row = recordings[i];
        SCOPED_TRACE (row.file);
        const auto file = embeddedFile (row.file);
        SampleZone decoded;
        loadSample (decoded, file.getData(), (int) file.getSize(), 0);
        ASSERT_TRUE (decoded.loaded);

        const auto& zone = zoneOfRow (*bank, i);
        EXPECT_TRUE (sameAudio (zone.buffer, decoded.buffer));
        EXPECT_EQ (zone.rootNote, row.rootNote);
        if (row.reed == DroneReed::none)
        {
            EXPECT_EQ (setOf (&zone), row.set);
        }
    }
}

// The bank decodes 16-bit mono files itself: every recording, in its zone and through loadSample,
// must hold exactly the floats JUCE's reader gives.
TEST_F (EmbeddedBank, EveryRecordingHoldsExactlyWhatJucesReaderDecodes)
{
    for (size_t i = 0; i < std::size (recordings); ++i)
    {
        SCOPED_TRACE (recordings[i].file);
        const auto file = embeddedFile (recordings[i].file);
        const auto* data = static_cast<const char*> (file.getData());
        const auto size = (int) file.getSize();
        const auto reference = decodeWithReader (data, (size_t) size);
        ASSERT_GT (reference.audio.getNumSamples(), 0);

        SampleZone alone;
        loadSample (alone, data, size, 0);
        EXPECT_TRUE (sameAudio (alone.buffer, reference.audio));
        EXPECT_EQ (alone.sampleRate, reference.sampleRate);

        // Into a room of floats with the file copied into the room's own back, as the bank lays them
        // out; and beside a room one float too small, which must be left alone.
        std::vector<float> room (((size_t) size + 1) / 2 + 16);
        auto* back = reinterpret_cast<char*> (room.data() + room.size()) - size;
        std::memcpy (back, data, (size_t) size);
        SampleZone inRoom;
        loadSample (inRoom, back, size, 0, room.data(), room.size());
        EXPECT_TRUE (sameAudio (inRoom.buffer, reference.audio));
        EXPECT_EQ (inRoom.buffer.getReadPointer (0), room.data());

        std::vector<float> small ((size_t) reference.audio.getNumSamples() - 1, 7.0f);
        SampleZone beside;
        loadSample (beside, data, size, 0, small.data(), small.size());
        EXPECT_TRUE (sameAudio (beside.buffer, reference.audio));
        EXPECT_TRUE (std::all_of (small.begin(), small.end(), [] (float f) { return f == 7.0f; }));

        const auto& zone = zoneOfRow (*bank, i);
        EXPECT_TRUE (sameAudio (zone.buffer, reference.audio));
        EXPECT_EQ (zone.sampleRate, reference.sampleRate);
    }
}

// A bank decoded twice into the same object replaces its arena; moved, it keeps it. Either way every
// zone must still read the recording (reading a freed arena crashes or differs).
TEST_F (EmbeddedBank, ReloadedAndMovedBankKeepsEveryRecording)
{
    auto reloaded = std::make_unique<SampleBank>();
    loadEmbeddedBank (*reloaded);
    loadEmbeddedBank (*reloaded);
    const SampleBank moved (std::move (*reloaded));
    reloaded.reset();

    for (int s = 0; s < numZoneSets; ++s)
    {
        ASSERT_EQ (moved.zoneSets[s].numZones, bank->zoneSets[s].numZones);
        for (int i = 0; i < bank->zoneSets[s].numZones; ++i)
            EXPECT_TRUE (sameAudio (moved.zoneSets[s].zones[i].buffer, bank->zoneSets[s].zones[i].buffer)) << "set " << s << ", slot " << i;
    }
    EXPECT_TRUE (sameAudio (moved.droneLow.buffer, bank->droneLow.buffer));
    EXPECT_TRUE (sameAudio (moved.droneHigh.buffer, bank->droneHigh.buffer));
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

// A WAV file put together chunk by chunk, for layouts JUCE's writer never makes.
struct Chunk
{
    std::string id;
    std::vector<unsigned char> body;
    std::optional<uint32_t> claimedLength = {};   // the header's length, if not the body's
};

void appendLE (std::vector<unsigned char>& bytes, uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes.push_back ((unsigned char) (value >> (8 * i)));
}

// PCM, mono, 16 bits; `extraBytes` makes the longer form some writers use.
std::vector<unsigned char> fmtBody (uint32_t rate, int extraBytes = 0)
{
    std::vector<unsigned char> body;
    appendLE (body, 1, 2);
    appendLE (body, 1, 2);
    appendLE (body, rate, 4);
    appendLE (body, rate * 2, 4);
    appendLE (body, 2, 2);
    appendLE (body, 16, 2);
    if (extraBytes > 0)
    {
        appendLE (body, 0, 2);   // cbSize
        body.resize (body.size() + (size_t) extraBytes - 2, 0);
    }
    return body;
}

std::vector<unsigned char> pcm16 (const std::vector<int>& values)
{
    std::vector<unsigned char> body;
    for (auto v : values)
        appendLE (body, (uint32_t) v, 2);
    return body;
}

std::vector<unsigned char> riffWave (const std::vector<Chunk>& chunks, int riffLengthAdjust = 0, size_t trailing = 0)
{
    std::vector<unsigned char> bytes { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E' };
    for (const auto& c : chunks)
    {
        bytes.insert (bytes.end(), c.id.begin(), c.id.end());
        appendLE (bytes, c.claimedLength.value_or ((uint32_t) c.body.size()), 4);
        bytes.insert (bytes.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2 != 0)
            bytes.push_back (0);   // pad byte
    }
    const auto riffLength = (uint32_t) ((int) bytes.size() - 8 + riffLengthAdjust);
    for (int i = 0; i < 4; ++i)
        bytes[4 + (size_t) i] = (unsigned char) (riffLength >> (8 * i));
    bytes.resize (bytes.size() + trailing, 0x55);
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

// Hand-made 16-bit mono files in layouts the bank's own decoder must walk as JUCE's reader does,
// and one it must leave to the reader (audio running past the end, which the reader pads).
TEST (SampleDecoder, SixteenBitMonoFilesDecodeExactlyAsJucesReaderDoes)
{
    std::vector<int> everyValue;
    for (int v = -32768; v <= 32767; ++v)
        everyValue.push_back (v);
    const std::vector<int> few { -32768, 32767, 0, -1, 1, 12345, -20000 };
    const auto fmt = fmtBody (44100);
    const Chunk list { "LIST", { 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 4, 0, 0, 0, 'r', 'e', 'e', 'd' } };
    const Chunk oddJunk { "junk", { 1, 2, 3 } };
    auto oddData = pcm16 (few);
    oddData.push_back (0x7f);   // half a frame: not a frame

    struct Case { const char* what; std::vector<unsigned char> file; };
    const Case cases[] = {
        { "every 16-bit value", riffWave ({ { "fmt ", fmt }, { "data", pcm16 (everyValue) } }) },
        { "48 kHz", riffWave ({ { "fmt ", fmtBody (48000) }, { "data", pcm16 (few) } }) },
        { "LIST chunk before the data", riffWave ({ { "fmt ", fmt }, list, { "data", pcm16 (few) } }) },
        { "odd-sized chunk and its pad byte first", riffWave ({ oddJunk, { "fmt ", fmt }, oddJunk, { "data", pcm16 (few) } }) },
        { "18-byte fmt chunk", riffWave ({ { "fmt ", fmtBody (44100, 2) }, { "data", pcm16 (few) } }) },
        { "odd-sized data, then a chunk", riffWave ({ { "fmt ", fmt }, { "data", oddData }, list }) },
        { "bytes past the RIFF chunk", riffWave ({ { "fmt ", fmt }, { "data", pcm16 (few) } }, 0, 40) },
        { "data runs 4 frames past the end, behind a LIST chunk",
          riffWave ({ { "fmt ", fmt }, list, { "data", pcm16 (few), (uint32_t) (few.size() + 4) * 2 } }) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto reference = decodeWithReader (c.file.data(), c.file.size());
        ASSERT_GT (reference.audio.getNumSamples(), 0);

        SampleZone zone;
        loadSample (zone, c.file.data(), (int) c.file.size(), 62);
        ASSERT_TRUE (zone.loaded);
        EXPECT_EQ (zone.rootNote, 62);
        EXPECT_EQ (zone.sampleRate, reference.sampleRate);
        EXPECT_TRUE (sameAudio (zone.buffer, reference.audio));
    }

    // The extremes, spelled out: full scale is 32768, not 32767.
    SampleZone zone;
    const auto file = riffWave ({ { "fmt ", fmt }, { "data", pcm16 ({ -32768, 32767, -1 }) } });
    loadSample (zone, file.data(), (int) file.size(), 60);
    ASSERT_EQ (zone.buffer.getNumSamples(), 3);
    EXPECT_EQ (zone.buffer.getSample (0, 0), -1.0f);
    EXPECT_EQ (zone.buffer.getSample (0, 1), 32767.0f / 32768.0f);
    EXPECT_EQ (zone.buffer.getSample (0, 2), -1.0f / 32768.0f);
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

    const auto fmt = fmtBody (44100);
    const auto frames = pcm16 (std::vector<int> (200, 1000));
    const Chunk list { "LIST", std::vector<unsigned char> (100, 'x') };
    const auto noFmt = riffWave ({ { "data", frames } });
    const auto dataFirst = riffWave ({ { "data", frames }, { "fmt ", fmt } });
    const auto noData = riffWave ({ { "fmt ", fmt }, list });
    const auto emptyData = riffWave ({ { "fmt ", fmt }, list, { "data", {} } });
    const auto zeroRate = riffWave ({ { "fmt ", fmtBody (0) }, { "data", frames } });
    const auto dataBeyondRiff = riffWave ({ { "fmt ", fmt }, { "data", frames } }, -(int) frames.size() - 8);
    // Behind a LIST chunk, audio cut short by more than the chunk's length: fewer bytes than a
    // minimal header would leave for it.
    const auto cutBehindList = riffWave ({ { "fmt ", fmt }, list, { "data", frames, (uint32_t) frames.size() + 120 } });

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
        { "no fmt chunk", noFmt.data(), (int) noFmt.size() },
        { "data chunk before the fmt chunk", dataFirst.data(), (int) dataFirst.size() },
        { "no data chunk", noData.data(), (int) noData.size() },
        { "empty data chunk after a LIST chunk", emptyData.data(), (int) emptyData.size() },
        { "fmt chunk says 0 Hz", zeroRate.data(), (int) zeroRate.size() },
        { "data chunk past the RIFF chunk's end", dataBeyondRiff.data(), (int) dataBeyondRiff.size() },
        { "audio cut short behind a LIST chunk", cutBehindList.data(), (int) cutBehindList.size() },
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
