#include "ProcessorFixture.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

using namespace processortest;

namespace
{
struct Settings
{
    std::vector<std::pair<const char*, float>> parameters;
    std::vector<std::pair<int, juce::MidiBuffer>> midiAtBlock;
};

// Two instances that share nothing audible: RHODES with drift, wheel tremolo and a large reverb, and
// the chanter with its drone, ornament glides and a dark, quieter tone.
Settings rhodesSettings()
{
    return { { { "instrument", 7.0f }, { "drift", 40.0f }, { "reverbSize", 90.0f }, { "reverbMix", 50.0f } },
             { { 0, midiOf ({ cc (1, 90), on (48, 100), on (55, 90), on (64, 70) }) }, { 30, midiOf ({ off (55) }) } } };
}

Settings chanterSettings()
{
    return { { { "instrument", 0.0f }, { "droneOn", 1.0f }, { "ornament", 80.0f }, { "brightness", 20.0f },
               { "volume", 60.0f } },
             { { 0, midiOf ({ on (67) }) }, { 10, midiOf ({ off (67), on (72) }) }, { 25, midiOf ({ on (69), off (72) }) } } };
}

std::unique_ptr<KestruneProcessor> makeInstance (const Settings& settings)
{
    auto p = std::make_unique<KestruneProcessor>();
    for (const auto& [id, value] : settings.parameters)
        setParameter (*p, id, value);
    p->prepareToPlay (48000.0, 256);
    return p;
}

juce::MidiBuffer midiForBlock (const Settings& settings, int block)
{
    for (const auto& [at, midi] : settings.midiAtBlock)
        if (at == block)
            return midi;
    return {};
}

void appendBlock (KestruneProcessor& p, const Settings& settings, int block, std::vector<float>& out)
{
    const auto buffer = render (p, 256, midiForBlock (settings, block));
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        out.insert (out.end(), buffer.getReadPointer (ch), buffer.getReadPointer (ch) + buffer.getNumSamples());
}

constexpr int numBlocks = 60;

std::vector<float> renderAlone (const Settings& settings)
{
    auto p = makeInstance (settings);
    std::vector<float> out;
    for (int b = 0; b < numBlocks; ++b)
        appendBlock (*p, settings, b, out);
    return out;
}
} // namespace

// Every instance reads the same decoded recordings, and nothing else passes between them: played
// block by block side by side, each renders exactly what it renders on its own.
TEST (Instances, EachRendersWhatItRendersAlone)
{
    ::setenv ("KESTRUNE_RANDOM_SEED", "2024", 1);
    const auto rhodes = rhodesSettings(), chanter = chanterSettings();
    const auto rhodesAlone = renderAlone (rhodes);
    const auto chanterAlone = renderAlone (chanter);

    auto a = makeInstance (rhodes);
    auto b = makeInstance (chanter);
    EXPECT_EQ (&a->getSampleBank(), &b->getSampleBank());

    std::vector<float> rhodesTogether, chanterTogether;
    for (int block = 0; block < numBlocks; ++block)
    {
        appendBlock (*a, rhodes, block, rhodesTogether);
        appendBlock (*b, chanter, block, chanterTogether);
    }
    ::unsetenv ("KESTRUNE_RANDOM_SEED");

    const auto peak = [] (const std::vector<float>& v) {
        return std::abs (*std::max_element (v.begin(), v.end(), [] (float x, float y) { return std::abs (x) < std::abs (y); }));
    };
    ASSERT_GT (peak (rhodesAlone), 0.05f);
    ASSERT_GT (peak (chanterAlone), 0.05f);
    EXPECT_TRUE (rhodesTogether == rhodesAlone);
    EXPECT_TRUE (chanterTogether == chanterAlone);
}

// The decoded bank lives exactly as long as some instance holds it; decoded again, it holds the same
// samples (the embedded files' pages, handed back after the first decode, are read in again).
TEST (Instances, ShareOneBankFreedWithTheLastInstance)
{
    const auto organSum = [] (const SampleBank& bank) {
        const auto& zone = bank.zoneSets[organZones].zones[10];
        double sum = 0.0;
        for (int i = 0; i < zone.buffer.getNumSamples(); ++i)
            sum += std::abs (zone.buffer.getSample (0, i));
        return sum;
    };

    std::weak_ptr<const SampleBank> held;
    double firstSum = 0.0;
    {
        KestruneProcessor a;
        KestruneProcessor b;
        ASSERT_EQ (&a.getSampleBank(), &b.getSampleBank());
        held = sharedEmbeddedBank();
        EXPECT_EQ (held.lock().get(), &a.getSampleBank());

        const auto& chanter = a.getSampleBank().zoneSets[bagpipesZones];
        ASSERT_EQ (chanter.numZones, 13);
        EXPECT_TRUE (chanter.zones[0].loaded);
        EXPECT_TRUE (a.getSampleBank().droneHigh.loaded);
        firstSum = organSum (a.getSampleBank());
    }
    EXPECT_TRUE (held.expired());

    KestruneProcessor c;
    ASSERT_EQ (c.getSampleBank().zoneSets[organZones].numZones, 11);
    ASSERT_TRUE (c.getSampleBank().zoneSets[organZones].zones[10].loaded);
    EXPECT_GT (firstSum, 100.0);
    EXPECT_EQ (organSum (c.getSampleBank()), firstSum);
}

// Hosts construct and destroy instances on several threads. Each round, two threads each construct an
// instance at the same moment, play a note through it and hold it until both exist: they must hold one
// bank. Between rounds both are gone, so every round also frees and rebuilds the bank. Then both
// threads construct, play and destroy instances freely, so that one thread lets go of the last holder
// while the other takes the bank. Under ThreadSanitizer this is the race check of the bank's cache.
TEST (Instances, ConstructedAndDestroyedOnTwoThreads)
{
    constexpr int rounds = 3, freeRuns = 4;
    std::atomic<int> arrived { 0 };
    const SampleBank* banks[2] = {};
    bool sameBank[rounds] = {};
    float peaks[2] = {};

    const auto playNote = [] (KestruneProcessor& p, int note) {
        p.prepareToPlay (44100.0, 128);
        return render (p, 128, midiOf ({ on (note) })).getMagnitude (0, 128);
    };
    const auto waitFor = [&] (int count) {
        ++arrived;
        while (arrived.load() < count)
            std::this_thread::yield();
    };

    const auto work = [&] (int t) {
        for (int r = 0; r < rounds; ++r)
        {
            waitFor (4 * r + 2);   // both threads ready
            auto p = std::make_unique<KestruneProcessor>();
            banks[t] = &p->getSampleBank();
            peaks[t] = juce::jmax (peaks[t], playNote (*p, 60 + t));
            waitFor (4 * r + 4);   // both instances exist
            if (t == 0)
                sameBank[r] = banks[0] == banks[1];
            p.reset();
        }
        for (int i = 0; i < freeRuns; ++i)
        {
            KestruneProcessor p;
            peaks[t] = juce::jmax (peaks[t], playNote (p, 64 + t));
        }
    };

    std::thread other (work, 1);
    work (0);
    other.join();

    for (int r = 0; r < rounds; ++r)
        EXPECT_TRUE (sameBank[r]) << "round " << r;
    EXPECT_GT (peaks[0], 0.0f);
    EXPECT_GT (peaks[1], 0.0f);
}
