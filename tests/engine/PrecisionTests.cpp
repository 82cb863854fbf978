#include "EngineFixture.h"
#include "ReferenceEngine.h"

using namespace enginetest;

namespace
{
struct Step
{
    int block;
    std::vector<std::vector<juce::uint8>> events;
    std::vector<std::pair<Parameter, float>> parameters = {};
};

// Drives the engine and the reference with the same parameters, MIDI and random seed and returns
// the largest difference between their outputs.
float largestDifference (int instrument, double rate, const std::vector<Step>& script, int numBlocks)
{
    TestEngine p;
    ReferenceEngine reference (p.samples);
    setParameter (p, Parameter::instrument, (float) instrument);
    setParameter (p, Parameter::droneOn, 1.0f);
    p.prepare (rate, 512);
    reference.prepare (rate);
    p.seedRandom (42);
    reference.random.setSeed (42);

    float worst = 0.0f;
    for (int b = 0; b < numBlocks; ++b)
    {
        juce::MidiBuffer midi;
        for (const auto& step : script)
        {
            if (step.block != b)
                continue;
            for (auto [id, value] : step.parameters)
                setParameter (p, id, value);
            int position = 0;
            for (const auto& e : step.events)
                midi.addEvent (e.data(), (int) e.size(), position++);
        }

        // Sizes above and below the engine's internal chunk, odd ones among them.
        const int sizes[] = { 512, 700, 1, 256, 37 };
        const auto size = sizes[b % 5];
        juce::AudioBuffer<float> ours (2, size), theirs (2, size);
        p.processBlock (ours, midi);
        reference.process (theirs, midi, p.params, p.editorAttended);

        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < size; ++s)
                worst = std::max (worst, std::abs (ours.getSample (ch, s) - theirs.getSample (ch, s)));
    }
    return worst;
}

// Chords, glides, trill and tremolo on and off, stealing, releases and an all-notes-off.
const std::vector<Step> playing = {
    { 0, { on (60, 100), on (64, 80), on (67, 60) } },
    { 1, { cc (1, 64), on (72, 127) } },
    { 2, { off (64), on (55, 30) } },
    { 3, { cc (1, 127), on (48), on (50), on (52), on (53), on (57), on (59), on (62), on (65), on (69), on (71), on (74), on (76) } },
    { 4, { on (79, 90), on (81, 20) }, { { Parameter::release, 0.05f } } },
    { 5, { off (60), off (48), cc (1, 30) } },
    { 7, { cc (123, 0) } },
    { 8, { cc (1, 8), on (61), on (66, 1) }, { { Parameter::brightness, 20.0f }, { Parameter::volume, 100.0f } } },
    { 10, { off (61), cc (1, 0) } },
};
} // namespace

TEST (Precision, EveryInstrumentMatchesTheLiteralFormulas)
{
    for (int instrument = 0; instrument < 8; ++instrument)
        for (double rate : { 44100.0, 48000.0 })
            EXPECT_LE (largestDifference (instrument, rate, playing, 12), 1.0e-6f) << instrument << " at " << rate;
}

TEST (Precision, InstrumentChangesMatchTheLiteralFormulas)
{
    const std::vector<Step> changes = {
        { 0, { on (60), on (67), cc (1, 100) }, { { Parameter::release, 2.0f } } },
        { 2, { on (62) }, { { Parameter::instrument, (float) chant } } },
        { 4, { on (64) }, { { Parameter::instrument, (float) rhodes } } },
        { 6, { on (65) }, { { Parameter::instrument, (float) organ } } },
        { 8, { on (69), cc (1, 0) }, { { Parameter::instrument, (float) bagpipes }, { Parameter::drift, 0.0f } } },
        { 10, { on (71) }, { { Parameter::ornament, 0.0f }, { Parameter::focusMode, 1.0f } } },
    };
    EXPECT_LE (largestDifference (harp, 44100.0, changes, 12), 1.0e-6f);
}
