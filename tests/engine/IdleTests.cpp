// The idle shortcut: an engine with nothing sounding stops working once its output has died away,
// and whatever wakes it sounds exactly as it would from a freshly cleared engine.
#include "EngineFixture.h"

#include <cmath>

using namespace enginetest;

namespace
{
constexpr int blockSize = 256;

std::vector<float> sine (int length, float cyclesPerFrame)
{
    std::vector<float> frames ((size_t) length);
    for (int i = 0; i < length; ++i)
        frames[(size_t) i] = 0.8f * std::sin (6.2831853f * cyclesPerFrame * (float) i);
    return frames;
}

// An engine with the default settings (reverb on) over a small bank: a sine as the only zone of ORGAN
// and of the chanter, and two sine drones.
std::unique_ptr<TestEngine> defaultEngine (int instrument, double rate)
{
    auto e = std::make_unique<TestEngine> (Bank::empty);
    useSyntheticZone (*e, organ, sine (20000, 0.01f));
    useSyntheticZone (*e, bagpipes, sine (20000, 0.02f));
    fillZone (e->samples.droneLow, sine (30000, 0.0025f), 43);
    fillZone (e->samples.droneHigh, sine (30000, 0.005f), 43);
    setParameter (*e, Parameter::instrument, (float) instrument);
    e->prepare (rate, blockSize);
    e->seedRandom (7);
    return e;
}

float peakOf (const juce::AudioBuffer<float>& b)
{
    float peak = 0.0f;
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        peak = std::max (peak, b.getMagnitude (ch, 0, b.getNumSamples()));
    return peak;
}

bool allZero (const juce::AudioBuffer<float>& b)
{
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        for (int s = 0; s < b.getNumSamples(); ++s)
            if (! juce::exactlyEqual (b.getSample (ch, s), 0.0f))
                return false;
    return true;
}

// Plays a chord for half a second, lets it go and renders until the engine goes idle (at most 30 s).
void playUntilIdle (TestEngine& e, int channels = 2)
{
    render (e, blockSize, midiOf ({ on (60, 100), on (64, 90), on (67, 80) }), channels);
    for (int b = 0; b < 90; ++b)
        render (e, blockSize, {}, channels);
    render (e, blockSize, midiOf ({ off (60), off (64), off (67) }), channels);
    for (int b = 0; b < 30 * 44100 / blockSize && ! e.isIdle(); ++b)
        render (e, blockSize, {}, channels);
}
} // namespace

// After the last note, the full path runs until the output has stayed below -96 dBFS for a second
// (the reverb's tail included); from then on every block is exact zeros. The step into idle is
// below -96 dBFS.
TEST (Idle, GoesIdleOnlyAfterASecondBelowMinus96dB)
{
    struct Case { double rate; int channels; float reverbSize; float reverbMix; bool reverbInPlay() const { return channels <= 2 && reverbMix > 0.0f; } };
    const Case cases[] = { { 44100.0, 2, 50.0f, 30.0f }, { 96000.0, 1, 0.0f, 60.0f }, { 48000.0, 3, 50.0f, 0.0f } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.rate) + " Hz, " + juce::String (c.channels) + " channels");
        auto e = defaultEngine (organ, c.rate);
        setParameter (*e, Parameter::reverbSize, c.reverbSize);
        setParameter (*e, Parameter::reverbMix, c.reverbMix);

        std::vector<float> peaks;
        render (*e, blockSize, midiOf ({ on (60, 100), on (64, 90) }), c.channels);
        for (int b = 0; b < 40; ++b)
            render (*e, blockSize, {}, c.channels);
        render (*e, blockSize, midiOf ({ off (60), off (64) }), c.channels);

        int firstIdleBlock = -1;
        for (int b = 0; b < (int) (20.0 * c.rate) / blockSize; ++b)
        {
            const auto wasIdle = e->isIdle();
            const auto out = render (*e, blockSize, b % 7 == 0 ? midiOf ({ off (64), cc (1, b % 128) }) : juce::MidiBuffer {}, c.channels);
            peaks.push_back (peakOf (out));
            if (wasIdle)
            {
                ASSERT_TRUE (allZero (out)) << "block " << b;
                firstIdleBlock = firstIdleBlock < 0 ? b : firstIdleBlock;
            }
        }
        ASSERT_GT (firstIdleBlock, 0) << "never went idle";
        EXPECT_TRUE (e->isIdle());

        // The second before idle was all below the threshold, and the tail did reach above it before.
        // With the reverb in play, the block just before idle was not yet zero: the shortcut cut a tail.
        const auto secondInBlocks = (int) std::ceil (c.rate / blockSize);
        ASSERT_GE (firstIdleBlock, secondInBlocks);
        for (int b = firstIdleBlock - secondInBlocks; b < firstIdleBlock; ++b)
            EXPECT_LT (peaks[(size_t) b], Engine::silenceThreshold) << "block " << b;
        if (c.reverbInPlay())
        {
            EXPECT_GT (peaks[(size_t) firstIdleBlock - 1], 0.0f);
        }
        EXPECT_GE (*std::max_element (peaks.begin(), peaks.begin() + firstIdleBlock - secondInBlocks), Engine::silenceThreshold);
    }
}

// Whatever wakes an idle engine, its output from then on equals that of an engine that ran the full
// path from a cleared state (freshly prepared, less than a second old, so never idle, and past the
// reverb's 10 ms glide from JUCE's default settings to ours) through the same settings and events,
// with the same random draws, previous note and drone position.
TEST (Idle, WakingSoundsLikeTheFullPathFromAClearedState)
{
    struct Block { std::function<void (TestEngine&)> settings; juce::MidiBuffer midi; };
    struct Case { const char* name; int instrument; std::vector<Block> whileIdle; Block waking; };

    const auto note = [] (int position) {
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 62, (juce::uint8) 110), position);
        return midi;
    };
    const auto nothing = [] (TestEngine&) {};
    const auto reverbChanged = [] (TestEngine& e) { setParameter (e, Parameter::reverbMix, 80.0f); setParameter (e, Parameter::reverbSize, 90.0f); };
    const auto focusAway = [] (TestEngine& e) { setParameter (e, Parameter::focusMode, 1.0f); e.editorAttended = false; };
    const auto focusBack = [] (TestEngine& e) { e.editorAttended = true; };
    const auto droneOn = [] (TestEngine& e) { setParameter (e, Parameter::droneOn, 1.0f); };
    const auto toRhodes = [] (TestEngine& e) { setParameter (e, Parameter::instrument, (float) rhodes); };

    std::vector<Case> cases = {
        { "a note in the first idle block", organ, {}, { nothing, note (0) } },
        { "a note in the middle of the first idle block", organ, {}, { nothing, note (100) } },
        { "a note after the reverb changed", organ, { { reverbChanged, {} }, { nothing, {} } }, { nothing, note (3) } },
        { "the drone switched on", bagpipes, { { nothing, {} } }, { droneOn, {} } },
        { "focus mode fading out, then a note", organ, std::vector<Block> (20, Block { focusAway, {} }), { focusAway, note (0) } },
        { "focus mode fading out and back", organ, { { focusAway, {} }, { focusAway, {} }, { focusBack, {} } }, { focusBack, note (0) } },
        { "the wheel and the instrument changed", organ, { { toRhodes, midiOf ({ cc (1, 100) }) }, { nothing, midiOf ({ off (62) }) } },
          { nothing, note (10) } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto woken = defaultEngine (c.instrument, 44100.0);
        playUntilIdle (*woken);
        ASSERT_TRUE (woken->isIdle());

        // The fresh engine's previous note is the woken one's, struck and stopped before it sounds.
        auto fresh = defaultEngine (c.instrument, 44100.0);
        apply (*fresh, midiOf ({ on (EngineProbe::lastNote (*woken)), cc (123, 0) }));
        for (int b = 0; b < 20; ++b)
            render (*fresh, blockSize, {}, 2);
        ASSERT_EQ (EngineProbe::lastNote (*fresh), EngineProbe::lastNote (*woken));
        ASSERT_EQ (EngineProbe::dronePosition (*fresh), EngineProbe::dronePosition (*woken));

        for (const auto& block : c.whileIdle)
        {
            for (auto* e : { woken.get(), fresh.get() })
            {
                block.settings (*e);
                const auto out = render (*e, blockSize, block.midi, 2);
                EXPECT_TRUE (allZero (out));
            }
            EXPECT_TRUE (woken->isIdle());
        }

        woken->seedRandom (99);
        fresh->seedRandom (99);
        float peak = 0.0f;
        for (int b = 0; b < 40; ++b)
        {
            const auto& block = b == 0 ? c.waking : Block { nothing, {} };
            block.settings (*woken);
            block.settings (*fresh);
            const auto ours = render (*woken, blockSize, block.midi, 2);
            const auto expected = render (*fresh, blockSize, block.midi, 2);
            peak = std::max (peak, peakOf (ours));
            for (int ch = 0; ch < 2; ++ch)
                for (int s = 0; s < blockSize; ++s)
                    ASSERT_EQ (ours.getSample (ch, s), expected.getSample (ch, s)) << "block " << b << " channel " << ch << " sample " << s;
            ASSERT_FALSE (woken->isIdle());
        }
        EXPECT_GT (peak, Engine::silenceThreshold);
    }
}
