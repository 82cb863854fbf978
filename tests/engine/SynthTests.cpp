#include "EngineFixture.h"
#include "engine/Synth.h"

using namespace enginetest;

// Phase advance per sample times the rate is the frequency; CHANT's carries its frozen vibrato
// detune on top.
TEST (Synth, NoteSixtyNineIs440HzAtAnyRate)
{
    for (double rate : { 44100.0, 96000.0 })
    {
        for (int instrument : { chant, rhodes })
        {
            auto p = plainProcessor (instrument, rate);
            apply (*p, midiOf ({ on (69) }));
            render (*p, 1);
            const auto phaseOf = [instrument] (const Voice& v) { return instrument == chant ? v.chant.pulsePhase : v.rhodes.modulatorPhase; };
            const auto before = phaseOf (p->voice (0));
            render (*p, 1);
            const auto v = p->voice (0);
            const auto after = phaseOf (v);

            auto detune = 1.0;
            if (instrument == chant)
            {
                const auto vibrato = std::sin (((v.driftPhase * 0.1f + 5.5f) * v.driftPhase) * 6.2831855f * 0.1f);
                detune = vibrato * 0.003 + 1.0;
                EXPECT_NEAR (detune, 1.0, 0.0031);
            }
            EXPECT_NEAR ((after - before) * rate / detune, 440.0, 0.01) << rate << " " << instrument;
        }
    }
}

TEST (Synth, ChantFormantSetSwitchesAtMiddleC)
{
    auto p = plainProcessor (chant);
    apply (*p, midiOf ({ on (59), on (60) }));
    const auto& b = EngineProbe::block (*p);
    const float expected[2][3] = { { 600.0f, 1000.0f, 2500.0f }, { 800.0f, 1200.0f, 2800.0f } };
    for (int voice = 0; voice < 2; ++voice)
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ (b.formantCosine[p->voice (voice).chant.formantSet][k],
                             std::cos (expected[voice][k] * 6.2831855f / 44100.0f));
}

TEST (Synth, FormantPolesAndTheirClamp)
{
    struct Case { double rate; float poles[3]; };
    const Case cases[] = {
        { 44100.0, { 0.99430f, 0.99145f, 0.98860f } },
        { 300.0, { 0.16224f, 0.0f, 0.0f } },
        { 200.0, { 0.0f, 0.0f, 0.0f } },
        { 384000.0, { 0.999f, 0.999f, 0.99869f } },
    };
    for (const auto& c : cases)
    {
        auto p = plainProcessor (chant, c.rate);
        render (*p, 1);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR (EngineProbe::block (*p).formantPole[k], c.poles[k], 1.0e-5f) << c.rate << " " << k;
    }

    // With a zero pole a stage passes x * (1 + cos).
    Voice group[laneWidth];
    auto& v = group[0];
    const int on[laneWidth] = { 1, 0, 0, 0 };
    BlockValues b;
    b.sampleRate = 200.0f;
    for (int k = 0; k < 3; ++k)
    {
        b.formantPole[k] = 0.0f;
        b.formantGain[k] = 1.0f;
        b.formantCosine[0][k] = 0.25f;
    }
    v.chant.formantSet = 0;
    v.baseFrequency = 50.0f;
    auto w = std::make_unique<VoiceGroup>();
    w->driftPhase[0][0] = 0.0;
    w->pitch[0][0] = 1.0;
    const float noise[1][laneWidth] = { { 0.75f, 0.0f, 0.0f, 0.0f } };
    synth::renderChant (group, on, b, noise, *w, 1);

    const auto x = v.chant.formantState[0];
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ (v.chant.formantState[k], x);
    EXPECT_FLOAT_EQ (w->out[0][0], x * 1.25f * 0.7f);
    EXPECT_EQ (group[1].chant.formantState[0], 0.0f);   // a lane that is off keeps its state
    EXPECT_FLOAT_EQ (x, 0.5f * 0.03f + std::exp (v.chant.pulsePhase * -3.0f) * (v.chant.pulsePhase * 2.0f - 1.0f));
}

TEST (Synth, RhodesModulationIndexAndDepthDecay)
{
    struct Case { int velocity; int note; float index; float decayPerSecond; };
    const Case cases[] = { { 1, 60, 1.5315f, 7.0f }, { 127, 60, 5.5f, 7.0f }, { 127, 30, 5.5f, 7.0f }, { 127, 120, 5.5f, 19.0f } };
    for (const auto& c : cases)
    {
        auto p = plainProcessor (rhodes);
        apply (*p, midiOf ({ on (c.note, c.velocity) }));
        const auto v = p->voice (0);
        EXPECT_NEAR (v.rhodes.indexScale * v.rhodes.modulatorEnvelope, c.index, 1.0e-4f);
        EXPECT_FLOAT_EQ (v.rhodes.envelopeDecay, 1.0f - c.decayPerSecond / 44100.0f);

        render (*p, 44100);
        EXPECT_NEAR (p->voice (0).rhodes.modulatorEnvelope, std::max (0.001f, std::exp (-c.decayPerSecond)), 2.0e-4f);
    }
}

TEST (Synth, TwoChantVoicesOnOneNoteDiffer)
{
    auto p = plainProcessor (chant);
    setParameter (*p, Parameter::drift, 25.0f);
    apply (*p, midiOf ({ on (60), on (60) }));
    render (*p, 512);
    EXPECT_NE (p->voice (0).chant.formantState[0], p->voice (1).chant.formantState[0]);
    EXPECT_NE (p->voice (0).chant.pulsePhase, p->voice (1).chant.pulsePhase);
}
