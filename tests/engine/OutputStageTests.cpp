#include "EngineFixture.h"

using namespace enginetest;

namespace
{
// A held note on a constant recording of 1.0, at full level after 45 samples.
std::unique_ptr<TestEngine> fullLevelNotes (std::initializer_list<std::vector<juce::uint8>> notes, float volume = 80.0f)
{
    auto p = plainProcessor (harp);
    useSyntheticZone (*p, harp, constant (100000));
    setParameter (*p, Parameter::attack, 0.001f);
    setParameter (*p, Parameter::volume, volume);
    apply (*p, midiOf (notes));
    render (*p, 100);
    return p;
}

// The last output sample as the saturator left it, before the fixed trim after the reverb.
float lastSample (TestEngine& p)
{
    return dryOutput (p, 64).back() / Engine::outputTrim;
}
} // namespace

TEST (OutputStage, SaturatorPeaksAtTanhOfDrive)
{
    struct Case { float volume; float expected; };
    const Case cases[] = { { 80.0f, 0.7157f }, { 100.0f, 0.7928f }, { 0.0f, 0.0f } };
    for (const auto& c : cases)
    {
        auto p = fullLevelNotes ({ on (60, 127) }, c.volume);
        const auto expected = std::tanh ((c.volume / 100.0f) * 1.3f * (127.0f * 0.007874016f)) * 0.92f;
        EXPECT_FLOAT_EQ (lastSample (*p), expected) << c.volume;
        EXPECT_NEAR (lastSample (*p), c.expected, 1.0e-4f);
    }
}

TEST (OutputStage, VoicesAreNormalisedBySquareRootOfTheirCount)
{
    auto one = fullLevelNotes ({ on (60, 40) });
    auto two = fullLevelNotes ({ on (60, 40), on (60, 40) });
    const auto drive = EngineProbe::block (*one).drive;
    const auto sumOf = [drive] (float y) { return std::atanh (y / 0.92f) / drive; };

    EXPECT_NEAR (sumOf (lastSample (*two)) / sumOf (lastSample (*one)), std::sqrt (2.0f), 1.0e-5f);

    // A releasing voice still counts, lowering the held one until it ends.
    auto mixed = fullLevelNotes ({ on (60, 40), on (72, 40) });
    setParameter (*mixed, Parameter::release, 3.0f);
    apply (*mixed, midiOf ({ off (72) }));
    EXPECT_LT (sumOf (lastSample (*mixed)), sumOf (lastSample (*one)) * 1.42f);
    setParameter (*mixed, Parameter::release, 0.01f);
    render (*mixed, 1000);
    ASSERT_EQ (mixed->soundingVoices(), 1);
    EXPECT_NEAR (sumOf (lastSample (*mixed)), sumOf (lastSample (*one)), 1.0e-5f);

    // A voice frozen under an instrument it has no recording for adds nothing, yet still counts.
    auto frozen = plainProcessor (chant);
    useSyntheticZone (*frozen, harp, constant (100000));
    setParameter (*frozen, Parameter::attack, 0.001f);
    setParameter (*frozen, Parameter::volume, 80.0f);
    apply (*frozen, midiOf ({ on (60, 40) }));
    setParameter (*frozen, Parameter::instrument, (float) harp);
    apply (*frozen, midiOf ({ on (60, 40) }));
    render (*frozen, 100);
    ASSERT_EQ (frozen->soundingVoices(), 2);
    EXPECT_NEAR (sumOf (lastSample (*frozen)) * std::sqrt (2.0f), sumOf (lastSample (*one)), 1.0e-5f);
}

TEST (OutputStage, ReverbSettingsFollowMixAndSize)
{
    struct Case { float mix, size, wet, dry, room; };
    const Case cases[] = { { 0.0f, 0.0f, 0.0f, 1.0f, 0.0f }, { 100.0f, 100.0f, 1.0f, 0.5f, 1.0f }, { 30.0f, 50.0f, 0.3f, 0.85f, 0.5f } };
    for (const auto& c : cases)
    {
        auto p = plainProcessor();
        setParameter (*p, Parameter::reverbMix, c.mix);
        setParameter (*p, Parameter::reverbSize, c.size);
        render (*p, 16, {}, 2);
        const auto r = EngineProbe::reverbParameters (*p);
        EXPECT_FLOAT_EQ (r.wetLevel, c.wet);
        EXPECT_FLOAT_EQ (r.dryLevel, c.dry);
        EXPECT_FLOAT_EQ (r.roomSize, c.room);
        EXPECT_FLOAT_EQ (r.damping, 0.5f);
        EXPECT_FLOAT_EQ (r.width, 1.0f);
        EXPECT_FLOAT_EQ (r.freezeMode, 0.0f);
    }
}

// Mono and stereo outputs are the dry signal through the mono and stereo reverb (JUCE's, which ours
// matches to the bit); other channel counts carry the dry signal everywhere.
TEST (OutputStage, ReverbByChannelCount)
{
    const auto notes = midiOf ({ on (60), on (67) });
    auto dryProcessor = plainProcessor (chant);
    setParameter (*dryProcessor, Parameter::reverbMix, 40.0f);
    const auto dry = render (*dryProcessor, 2048, notes, 3);

    for (int channels : { 1, 2, 3, 8 })
    {
        auto p = plainProcessor (chant);
        setParameter (*p, Parameter::reverbMix, 40.0f);
        const auto out = render (*p, 2048, notes, channels);

        juce::AudioBuffer<float> expected (channels, 2048);
        expected.clear();
        for (int ch = 0; ch < channels; ++ch)
            expected.addFrom (ch, 0, dry, 0, 0, 2048, 1.0f / Engine::outputTrim);
        if (channels <= 2)
        {
            juce::Reverb reverb;
            reverb.setSampleRate (44100.0);
            reverb.setParameters (EngineProbe::reverbParameters (*p));
            if (channels == 1)
                reverb.processMono (expected.getWritePointer (0), 2048);
            else
                reverb.processStereo (expected.getWritePointer (0), expected.getWritePointer (1), 2048);
        }
        expected.applyGain (Engine::outputTrim);

        for (int ch = 0; ch < channels; ++ch)
            for (int s = 0; s < 2048; ++s)
                ASSERT_NEAR (out.getSample (ch, s), expected.getSample (ch, s), 1.0e-7f) << channels << " " << ch << " " << s;
    }
}

TEST (OutputStage, FocusModeFadesWithAThousandSampleTimeConstant)
{
    auto p = plainProcessor();
    setParameter (*p, Parameter::focusMode, 1.0f);
    p->editorAttended = false;
    render (*p, 1000);
    EXPECT_NEAR (EngineProbe::focusGain (*p), std::pow (0.999f, 1000.0f), 1.0e-4f);
    render (*p, 6000);
    EXPECT_LT (EngineProbe::focusGain (*p), 0.001f);

    // Attending the editor again, or switching the mode off, fades back in at the same rate.
    p->editorAttended = true;
    render (*p, 1000);
    EXPECT_NEAR (EngineProbe::focusGain (*p), 1.0f - 0.999f * std::pow (0.999f, 1000.0f), 2.0e-3f);
    p->editorAttended = false;
    setParameter (*p, Parameter::focusMode, 0.0f);
    render (*p, 10000);
    EXPECT_NEAR (EngineProbe::focusGain (*p), 1.0f, 1.0e-4f);

    // prepare does not reset it.
    setParameter (*p, Parameter::focusMode, 1.0f);
    render (*p, 7000);
    p->prepare (44100.0, 512);
    EXPECT_LT (EngineProbe::focusGain (*p), 0.001f);
}
