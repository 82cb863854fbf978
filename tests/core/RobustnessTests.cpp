#include "EngineProbe.h"
#include "ProcessorFixture.h"

using namespace processortest;

namespace
{
// Dry output never exceeds 0.92; the reverb scales dry by up to 2 and adds its wet signal.
constexpr float outputBound = 8.0f;


::testing::AssertionResult finiteAndBounded (const juce::AudioBuffer<float>& buffer)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int s = 0; s < buffer.getNumSamples(); ++s)
        {
            const auto y = buffer.getSample (ch, s);
            if (! std::isfinite (y) || std::abs (y) > outputBound)
                return ::testing::AssertionFailure() << "sample " << s << " of channel " << ch << " is " << y;
        }
    return ::testing::AssertionSuccess();
}

// Random bytes of random lengths, with a bias towards status bytes so that every kind of message,
// complete or truncated, turns up.
juce::MidiBuffer randomMidi (juce::Random& r, int numSamples)
{
    juce::MidiBuffer midi;
    const auto count = r.nextInt (12);
    for (int i = 0; i < count; ++i)
    {
        juce::uint8 bytes[16];
        const auto length = 1 + r.nextInt (r.nextBool() ? 3 : 16);
        for (int b = 0; b < length; ++b)
            bytes[b] = (juce::uint8) r.nextInt (256);
        if (r.nextInt (3) > 0)
            bytes[0] = (juce::uint8) (0x80 + r.nextInt (0x80));
        if (length >= 3 && r.nextInt (4) == 0)
            bytes[2] = r.nextBool() ? 0 : 127;
        midi.addEvent (bytes, length, numSamples > 0 ? r.nextInt (numSamples) : 0);
    }
    return midi;
}
} // namespace

TEST (Robustness, ExtremeSettingsTable)
{
    struct Case { double rate; int channels; int blockSize; std::vector<std::pair<const char*, float>> plain; };
    const Case cases[] = {
        { 8000.0, 2, 1, { { "attack", 0.001f }, { "release", 0.01f }, { "volume", 100.0f }, { "brightness", 0.0f } } },
        { 384000.0, 1, 8192, { { "attack", 1.0f }, { "release", 3.0f }, { "drift", 100.0f }, { "ornament", 100.0f } } },
        { 44100.0, 0, 513, { { "reverbMix", 100.0f }, { "reverbSize", 100.0f }, { "droneOn", 1.0f }, { "droneVol", 100.0f } } },
        { 96000.0, 3, 0, { { "instrument", 7.0f }, { "drift", 100.0f } } },
        { 22050.0, 8, 127, { { "instrument", 6.0f }, { "focusMode", 1.0f }, { "volume", 0.0f } } },
        { 48000.0, 2, 511, { { "attack", -5.0f }, { "release", 1000.0f }, { "instrument", 42.0f }, { "volume", 1.0e9f } } },
        // Below the reverb's lowest rate its delay lines would be empty; at it, the shortest holds one sample.
        { 100.0, 2, 64, { { "reverbMix", 100.0f }, { "reverbSize", 100.0f }, { "droneOn", 1.0f } } },
        { 100.0, 1, 7, { { "reverbMix", 100.0f }, { "instrument", 5.0f } } },
        { (double) StereoReverb::lowestRate, 2, 64, { { "reverbMix", 100.0f }, { "reverbSize", 100.0f }, { "droneOn", 1.0f } } },
        { (double) StereoReverb::lowestRate, 1, 3, { { "reverbMix", 100.0f }, { "instrument", 6.0f } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.rate) + " Hz, " + juce::String (c.channels) + " channels, block " + juce::String (c.blockSize));
        KestruneProcessor p;
        for (auto [id, value] : c.plain)
            setParameter (p, id, value);
        p.prepareToPlay (c.rate, c.blockSize);

        for (int b = 0; b < 40; ++b)
        {
            juce::AudioBuffer<float> buffer (c.channels, c.blockSize);
            auto midi = midiOf ({ cc (1, b * 3 % 128), on (b % 2 == 0 ? 0 : 127, b % 3 == 0 ? 1 : 127), on (60 + b % 12), off (60 + (b + 5) % 12) });
            p.processBlock (buffer, midi);
            ASSERT_TRUE (finiteAndBounded (buffer)) << "block " << b;
        }
    }
}

// Raw values written straight into the parameters' storage, past their ends or not numbers at all,
// read as the nearest legal value.
TEST (Robustness, RawParameterValuesOutsideTheirRanges)
{
    const float values[] = { -1.0e30f, -1.0f, 0.0f, 1.0e30f, std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN() };
    for (auto value : values)
    {
        KestruneProcessor p;
        p.prepareToPlay (44100.0, 256);
        for (const auto& row : kestrune::parameterTable)
            p.parameters.getRawParameterValue (row.id)->store (value);

        for (int b = 0; b < 20; ++b)
        {
            auto buffer = render (p, 256, midiOf ({ on (40 + b), cc (1, 127), off (39 + b) }), 2);
            ASSERT_TRUE (finiteAndBounded (buffer)) << value << " block " << b;
        }
        EXPECT_GE (EngineProbe::activeInstrument (p.getEngine()), 0);
        EXPECT_LT (EngineProbe::activeInstrument (p.getEngine()), (int) numInstruments);
    }

    KestruneProcessor p;
    p.prepareToPlay (0.0, 512);
    p.prepareToPlay (std::numeric_limits<double>::quiet_NaN(), 512);
    EXPECT_EQ (EngineProbe::sampleRate (p.getEngine()), 44100.0);
}

TEST (Robustness, RandomMidiBlockSizesChannelsAndRates)
{
    juce::Random r (2024);
    const double rates[] = { 8000.0, 11025.0, 44100.0, 48000.0, 96000.0, 192000.0, 384000.0 };
    const int channelCounts[] = { 0, 1, 2, 3, 8 };

    for (int run = 0; run < 12; ++run)
    {
        KestruneProcessor p;
        p.prepareToPlay (rates[r.nextInt (7)], 1024);
        const auto channels = channelCounts[r.nextInt (5)];

        for (int b = 0; b < 120; ++b)
        {
            if (r.nextInt (10) == 0)
            {
                auto* prm = p.parameters.getParameter (kestrune::parameterTable[r.nextInt (kestrune::numParameters)].id);
                prm->setValueNotifyingHost (r.nextFloat() * 1.2f - 0.1f);
            }
            if (r.nextInt (60) == 0)
                p.prepareToPlay (rates[r.nextInt (7)], 1024);

            const auto blockSize = r.nextInt (6) == 0 ? r.nextInt (3) : r.nextInt (1100);
            juce::AudioBuffer<float> buffer (channels, blockSize);
            auto midi = randomMidi (r, blockSize);
            p.processBlock (buffer, midi);
            ASSERT_TRUE (finiteAndBounded (buffer)) << "run " << run << " block " << b;
        }
    }
}
