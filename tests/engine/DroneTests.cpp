#include "EngineFixture.h"

using namespace enginetest;

namespace
{
std::unique_ptr<TestEngine> droneProcessor (int instrument = bagpipes)
{
    auto p = plainProcessor (instrument);
    setParameter (*p, Parameter::droneOn, 1.0f);
    return p;
}
} // namespace

TEST (Drone, AtTheRecordingsOwnRateLoopsOverTheLowDroneFrameByFrame)
{
    auto p = droneProcessor();
    const auto lenLow = p->samples.droneLow.buffer.getNumSamples();
    ASSERT_TRUE (p->samples.droneLow.loaded && p->samples.droneHigh.loaded);
    EXPECT_EQ (lenLow, 106512);

    // With brightness 100 and no voice, the saturator's input is the drone sample itself.
    const auto out = dryOutput (*p, 4);
    const auto* low = p->samples.droneLow.buffer.getReadPointer (0);
    const auto* high = p->samples.droneHigh.buffer.getReadPointer (0);
    for (int i = 0; i < 4; ++i)
    {
        const auto expected = (high[i] * 0.5f + low[i] * 0.5f) * 0.5f;   // no drift, so no wobble
        EXPECT_FLOAT_EQ (out[(size_t) i], std::tanh (EngineProbe::block (*p).drive * expected) * 0.92f * Engine::outputTrim);
    }

    render (*p, lenLow - 5);
    EXPECT_EQ (EngineProbe::dronePosition (*p), (double) (lenLow - 1));
    render (*p, 1);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 0.0);
}

TEST (Drone, PositionAdvancesOnlyWhileItSounds)
{
    // Silent at volume 0, yet moving.
    auto p = droneProcessor();
    setParameter (*p, Parameter::droneVol, 0.0f);
    for (auto y : dryOutput (*p, 300))
        EXPECT_EQ (y, 0.0f);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 300.0);

    // Off, or on another instrument: silent and frozen from the first sample of that block.
    setParameter (*p, Parameter::droneVol, 100.0f);
    setParameter (*p, Parameter::instrument, (float) horn);
    for (auto y : dryOutput (*p, 300))
        EXPECT_EQ (y, 0.0f);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 300.0);

    setParameter (*p, Parameter::instrument, (float) bagpipes);
    setParameter (*p, Parameter::droneOn, 0.0f);
    render (*p, 300);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 300.0);

    // On again it resumes; prepare restarts it; 120/123 leave it alone.
    setParameter (*p, Parameter::droneOn, 1.0f);
    render (*p, 100, midiOf ({ cc (120, 0) }));
    EXPECT_EQ (EngineProbe::dronePosition (*p), 400.0);
    p->prepare (48000.0, 256);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 0.0);
}

TEST (Drone, SilentWhenARecordingIsMissing)
{
    auto p = droneProcessor();
    p->samples.droneHigh.loaded = false;
    for (auto y : dryOutput (*p, 100))
        EXPECT_EQ (y, 0.0f);
    EXPECT_EQ (EngineProbe::dronePosition (*p), 0.0);
}
