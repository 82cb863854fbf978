#include "EngineFixture.h"

using namespace enginetest;

namespace
{
// A HARP voice on a long constant recording whose root is the played note at 44100 Hz: the read
// position then advances by exactly the pitch factor each sample.
std::unique_ptr<TestEngine> pitchProbe (int modWheelValue = 0)
{
    auto p = plainProcessor (harp);
    useSyntheticZone (*p, harp, constant (400000), 60);
    setParameter (*p, Parameter::release, 3.0f);
    apply (*p, midiOf ({ cc (1, modWheelValue), on (60) }));
    return p;
}

std::vector<double> advances (TestEngine& p, int numSamples)
{
    std::vector<double> result;
    for (int i = 0; i < numSamples; ++i)
    {
        const auto before = p.voice (0).sampled.readPosition;
        render (p, 1);
        result.push_back (p.voice (0).sampled.readPosition - before);
    }
    return result;
}

int risingEdges (const std::vector<double>& a)
{
    int edges = 0;
    for (size_t i = 1; i < a.size(); ++i)
        edges += (a[i - 1] <= 1.0 && a[i] > 1.0) ? 1 : 0;
    return edges;
}
} // namespace

TEST (Ornament, GlideLengthFollowsOrnament)
{
    struct Case { float ornament; int samples; };
    const Case cases[] = { { 100.0f, 34 }, { 60.0f, 51 }, { 5.1f, 160 }, { 5.0f, 0 } };
    for (const auto& c : cases)
    {
        auto p = plainProcessor (harp);
        setParameter (*p, Parameter::ornament, c.ornament);
        apply (*p, midiOf ({ on (60), on (67) }));
        const auto v = p->voice (1);
        if (c.samples == 0)
        {
            EXPECT_FALSE (v.gliding);
            continue;
        }
        ASSERT_TRUE (v.gliding) << c.ornament;
        EXPECT_EQ (v.sampled.currentIncrement, Engine::zoneIncrement (60, v.sampled.zone, 44100.0));
        EXPECT_EQ (samplesUntil (*p, [&] { return ! p->voice (1).gliding; }), c.samples) << c.ornament;
        EXPECT_EQ (p->voice (1).sampled.currentIncrement, v.sampled.targetIncrement);
    }
}

TEST (Ornament, NoGlideOnTheFirstNoteOrARepeatedOne)
{
    auto p = plainProcessor (harp);
    setParameter (*p, Parameter::ornament, 100.0f);
    apply (*p, midiOf ({ on (60), on (67) }));
    EXPECT_TRUE (p->voice (1).gliding);

    p->prepare (44100.0, 512);
    apply (*p, midiOf ({ on (62), on (62) }));
    EXPECT_FALSE (p->voice (0).gliding);
    EXPECT_FALSE (p->voice (1).gliding);

    // The previous note need not still sound.
    apply (*p, midiOf ({ off (62), cc (123, 0) }));
    apply (*p, midiOf ({ on (50) }));
    const auto v = p->voice (0);
    EXPECT_TRUE (v.gliding);
    EXPECT_EQ (v.sampled.currentIncrement, Engine::zoneIncrement (62, v.sampled.zone, 44100.0));
}

TEST (Ornament, GlideIntoAnotherZoneStartsFromThePreviousPitchThroughTheNewZone)
{
    auto p = plainProcessor (harp);
    setParameter (*p, Parameter::ornament, 60.0f);
    auto& set = p->samples.zoneSets[harp];
    useSyntheticZone (*p, harp, constant (1000), 60);
    fillZone (set.zones[1], constant (1000, 0.0f), 72);
    set.numZones = 2;

    apply (*p, midiOf ({ on (60), on (71) }));
    const auto v = p->voice (1);
    ASSERT_EQ (v.sampled.zone, &set.zones[1]);
    EXPECT_DOUBLE_EQ (v.sampled.currentIncrement, 0.5);

    // The S-curve is half way at half the progress, the source speed taken through the new zone.
    render (*p, (int) std::lround (0.5 / v.glideStep));
    EXPECT_NEAR (p->voice (1).sampled.currentIncrement, (0.5 + std::pow (2.0, -1.0 / 12.0)) / 2.0, 1.0e-3);
}

TEST (Trill, RateAndIntervalFollowTheModWheel)
{
    struct Case { int wheel; int edgesPerSecond; };
    const Case cases[] = { { 0, 0 }, { 12, 0 }, { 13, 9 }, { 64, 14 }, { 127, 20 } };
    for (const auto& c : cases)
    {
        auto p = pitchProbe (c.wheel);
        const auto interval = p->voice (0).trillInterval;
        const auto a = advances (*p, 44100);
        EXPECT_EQ (risingEdges (a), c.edgesPerSecond) << c.wheel;

        const auto wheel = (float) c.wheel / 127.0f;
        const auto raised = c.edgesPerSecond > 0 ? std::pow (2.0, interval * wheel / 12.0) : 1.0;
        EXPECT_NEAR (*std::max_element (a.begin(), a.end()), raised, 1.0e-6) << c.wheel;
    }
}

TEST (Trill, StartsAtTheNoteAndStopsAtOnceInRelease)
{
    auto p = pitchProbe (127);
    const auto firstHalf = (int) (0.45 / 20.0 * 44100.0);   // the ramp starts at phase 0.45
    const auto start = advances (*p, firstHalf);
    for (auto a : start)
        ASSERT_EQ (a, 1.0);

    advances (*p, 80);
    ASSERT_GT (advances (*p, 1)[0], 1.0);
    apply (*p, midiOf ({ off (60) }));
    EXPECT_EQ (advances (*p, 1)[0], 1.0);
}

TEST (Tremolo, RhodesModWheelRanges)
{
    struct Case { int wheel; bool tremolo; bool trill; };
    const Case cases[] = { { 6, false, false }, { 7, true, false }, { 12, true, false }, { 13, true, true } };
    for (const auto& c : cases)
    {
        auto p = plainProcessor (rhodes);
        apply (*p, midiOf ({ cc (1, c.wheel), on (60) }));
        render (*p, 100);
        EXPECT_EQ (p->voice (0).tremoloPhase > 0.0f, c.tremolo) << c.wheel;
        EXPECT_EQ (p->voice (0).trillPhase > 0.0f, c.trill) << c.wheel;
    }

    // The tremolo goes on in the release; the trill does not.
    auto p = plainProcessor (rhodes);
    setParameter (*p, Parameter::release, 3.0f);
    apply (*p, midiOf ({ cc (1, 127), on (60) }));
    render (*p, 10);
    const auto held = p->voice (0);
    ASSERT_GT (held.trillPhase, 0.0f);
    apply (*p, midiOf ({ off (60) }));
    render (*p, 10);
    EXPECT_NEAR (p->voice (0).tremoloPhase - held.tremoloPhase, 10.0f * 7.5f / 44100.0f, 1.0e-6f);
    EXPECT_EQ (p->voice (0).trillPhase, held.trillPhase);
}

// The mod wheel between 5 and 10 % brings in the tremolo alone, on exactly the instruments whose row
// asks for it, whatever they sound like.
TEST (Tremolo, FollowsEachInstrumentsRow)
{
    for (const auto& row : instrumentTable)
    {
        auto p = plainProcessor (row.id);
        if (row.zoneSet != noZones)
            useSyntheticZone (*p, row.id, constant (40000), 60);
        apply (*p, midiOf ({ cc (1, 8), on (60) }));
        render (*p, 100);
        EXPECT_EQ (p->voice (0).tremoloPhase > 0.0f, row.modWheel == ModWheel::tremoloAndTrill) << row.name;
    }
}

TEST (Drift, OffAtOnePercentWithPhasesFrozen)
{
    struct Case { float drift; bool moves; };
    const Case cases[] = { { 0.0f, false }, { 1.0f, false }, { 1.1f, true }, { 100.0f, true } };
    for (const auto& c : cases)
    {
        auto p = pitchProbe();
        setParameter (*p, Parameter::drift, c.drift);
        render (*p, 1);
        const auto phase = p->voice (0).driftPhase;
        const auto a = advances (*p, 4410);
        EXPECT_EQ (! juce::exactlyEqual (p->voice (0).driftPhase, phase), c.moves) << c.drift;

        // At most 0.15 semitones at full drift.
        const auto [lo, hi] = std::minmax_element (a.begin(), a.end());
        EXPECT_EQ (*lo < 1.0 || *hi > 1.0, c.moves);
        EXPECT_LE (*hi, std::pow (2.0, 0.15 / 12.0) + 1.0e-9);
        EXPECT_GE (*lo, std::pow (2.0, -0.15 / 12.0) - 1.0e-9);
    }
}
