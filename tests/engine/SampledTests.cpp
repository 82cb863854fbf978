#include "EngineFixture.h"
#include "engine/SampledVoice.h"

using namespace enginetest;

namespace
{
SampleZone zoneOf (const std::vector<float>& frames)
{
    SampleZone zone;
    fillZone (zone, frames);
    return zone;
}

// One sample of the voice at the given pitch factor.
float nextSample (Voice& v, double pitch)
{
    Voice group[laneWidth];
    group[1] = v;
    const int rendered[laneWidth] = { 0, 1, 0, 0 };
    auto w = std::make_unique<VoiceGroup>();
    w->pitch[0][1] = pitch;
    sampled::renderSampled (group, rendered, *w, 1);
    v = group[1];
    return w->out[0][1];
}
} // namespace

TEST (SampledVoice, IncrementAtTheRootFollowsTheHostRate)
{
    struct Case { double hostRate; double zoneRate; int note; double expected; };
    const Case cases[] = {
        { 44100.0, 44100.0, 72, 1.0 },
        { 48000.0, 44100.0, 72, 0.91875 },
        { 44100.0, 48000.0, 72, 48000.0 / 44100.0 },
        { 44100.0, 44100.0, 84, 2.0 },
        { 44100.0, 44100.0, 66, std::sqrt (0.5) },
    };

    for (const auto& c : cases)
    {
        auto p = plainProcessor (harp, c.hostRate);
        useSyntheticZone (*p, harp, constant (1000), 72, c.zoneRate);
        apply (*p, midiOf ({ on (c.note) }));
        EXPECT_DOUBLE_EQ (p->voice (0).sampled.targetIncrement, c.expected) << c.hostRate << " " << c.note;
        EXPECT_DOUBLE_EQ (p->voice (0).sampled.currentIncrement, c.expected);
    }
    EXPECT_EQ (Engine::zoneIncrement (60, nullptr, 44100.0), 1.0);
}

TEST (SampledVoice, ReadsFrameZeroFirstThenInterpolates)
{
    const auto zone = zoneOf ({ 0.25f, 1.0f, -1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f });
    Voice v;
    sampled::attachZone (v.sampled, &zone, 44100.0);
    v.sampled.currentIncrement = 0.75;

    const float expected[] = { 0.25f, 0.25f + 0.75f * 0.75f, 1.0f + 0.5f * -2.0f, -1.0f + 0.25f * 1.5f };
    for (auto e : expected)
        EXPECT_FLOAT_EQ (nextSample (v, 1.0), e);
    EXPECT_DOUBLE_EQ (v.sampled.readPosition, 3.0);
}

// 20 frames: the loop is [14, 20), six frames long; the crossfade min(4410, 3) = 3 frames long. Over
// the crossfade the read blends towards the frame one loop length earlier, so the last blended sample
// leads straight into frame 14, and the wrap keeps the fraction.
TEST (SampledVoice, LoopsTheLastThirtyPercentSeamlessly)
{
    std::vector<float> frames (20);
    for (int i = 0; i < 20; ++i)
        frames[(size_t) i] = (float) (i + 1);
    const auto zone = zoneOf (frames);

    Voice v;
    sampled::attachZone (v.sampled, &zone, 44100.0);
    EXPECT_EQ (v.sampled.loopStart, 14);
    EXPECT_EQ (v.sampled.crossfadeLength, 3);

    v.sampled.readPosition = 17.0;
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 18.0f);                                   // remaining 3: no blend
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 2.0f / 3.0f * 19.0f + (1.0f - 2.0f / 3.0f) * 13.0f);
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 1.0f / 3.0f * 20.0f + (1.0f - 1.0f / 3.0f) * 14.0f);
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 15.0f);                                   // frame 14
    EXPECT_DOUBLE_EQ (v.sampled.readPosition, 15.0);

    // Inside the crossfade the partner is read with the main read's fraction.
    v.sampled.readPosition = 18.25;
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 2.0f / 3.0f * 19.25f + (1.0f - 2.0f / 3.0f) * 13.25f);

    // Past the end the position steps back by one loop length and keeps its fraction.
    v.sampled.readPosition = 20.6;
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 15.6f);
    EXPECT_NEAR (v.sampled.readPosition, 15.6, 1.0e-12);

    // An increment larger than the loop wraps by whole loop lengths, never outside the loop.
    v.sampled.readPosition = 19.0;
    nextSample (v, 50.0);
    EXPECT_FLOAT_EQ (nextSample (v, 1.0), 16.0f);
    EXPECT_DOUBLE_EQ (v.sampled.readPosition, 16.0);
}

TEST (SampledVoice, CrossfadeLengthIsAHundredMillisecondsCappedAtHalfTheLoop)
{
    struct Case { int length; double hostRate; int expected; };
    const Case cases[] = {
        { 100000, 48000.0, 4800 }, { 100000, 44100.0, 4410 }, { 1000, 48000.0, 150 }, { 10, 44100.0, 1 }, { 1, 44100.0, 0 },
    };
    for (const auto& c : cases)
    {
        const auto zone = zoneOf (constant (c.length));
        Voice v;
        sampled::attachZone (v.sampled, &zone, c.hostRate);
        EXPECT_EQ (v.sampled.crossfadeLength, c.expected) << c.length;
    }
}

TEST (SampledVoice, TinyRecordingsLoopWithoutBlend)
{
    const auto zone = zoneOf ({ 3.0f });
    Voice v;
    sampled::attachZone (v.sampled, &zone, 44100.0);
    v.sampled.currentIncrement = 0.5;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ (nextSample (v, 1.0), 3.0f);
}

TEST (SampledVoice, FirstOutputOfANoteIsFrameZero)
{
    auto p = plainProcessor (harp);
    setParameter (*p, Parameter::attack, 0.001f);
    auto& zone = useSyntheticZone (*p, harp, ramp (1000));
    zone.buffer.setSample (0, 0, 0.5f);
    apply (*p, midiOf ({ on (60) }));

    const auto first = dryOutput (*p, 1)[0];
    EXPECT_FLOAT_EQ (first, saturated (*p, 0.5f * EngineProbe::block (*p).attackStep * p->voice (0).velocity));
}
