#include "EngineFixture.h"
#include "engine/Expression.h"
#include "engine/Synth.h"

#include <cmath>

using namespace enginetest;

namespace
{
// The pitch of drift and trill as the sound defines it, sample by sample: sines of the exact phase,
// a trill ramp that divides, and the power in double.
struct LiteralPitch
{
    double driftPhase, driftStep;
    float trillPhase = 0.0f;
    int trillInterval;

    double next (float driftAmount, float modWheel, float sampleRate)
    {
        auto trill = 0.0f;
        if (modWheel > 0.1f)
        {
            trillPhase += (modWheel * 12.0f + 8.0f) / sampleRate;
            if (trillPhase >= 1.0f)
                trillPhase -= 1.0f;
            auto raised = trillPhase >= 0.5f ? 1.0f : 0.0f;
            if (0.45f < trillPhase && trillPhase < 0.55f)
                raised = (trillPhase - 0.45f) / 0.1f;
            trill = (float) trillInterval * raised * modWheel;
        }
        driftPhase += driftStep;
        constexpr double twoPi = 6.283185307179586;
        const auto drift = ((float) std::sin (twoPi * 0.7 * driftPhase) * 0.3f + (float) std::sin (twoPi * driftPhase) * 0.7f)
                           * driftAmount * 0.15f;
        return std::exp2 ((double) (drift + trill) / 12.0);
    }
};

// How fast each instrument's note 60 moves on: frames of its recording, or cycles of its oscillator,
// per output sample.
std::vector<double> speedsOfEveryInstrument (const SampleBank& bank, double rate)
{
    std::vector<double> speeds;
    for (const auto& row : instrumentTable)
    {
        const auto* zone = bank.findZone (row.id, 60);
        speeds.push_back (zone != nullptr ? std::pow (2.0, (60 - zone->rootNote) / 12.0) * zone->sampleRate / rate
                                          : synth::noteFrequency (60) / rate);
    }
    return speeds;
}
} // namespace

// Drift and trill may be computed more cheaply than by their literal formulas, but no listener may
// hear it: within 0.01 cent at every sample, and a voice's place in its recording (or its
// oscillator's cycle) within 0.01 after a minute, at every rate, for every instrument.
TEST (Pitch, DriftAndTrillFollowTheLiteralPitchForAMinute)
{
    TestEngine bankOwner;
    const auto centLimit = std::exp2 (0.01 / 1200.0) - 1.0;
    struct Setting { float driftAmount, modWheel; };

    for (double rate : { 44100.0, 48000.0, 96000.0, 192000.0 })
        for (auto setting : { Setting { 1.0f, 0.0f }, Setting { 1.0f, 1.0f } })
        {
            const auto sr = (float) rate;
            BlockValues block;
            block.sampleRate = sr;
            block.driftAmount = setting.driftAmount;
            block.trillOn = setting.modWheel > 0.1f;
            block.trillStep = (setting.modWheel * 12.0f + 8.0f) / sr;

            // The slowest and fastest drift rates, phases from the start of a note and from hours in.
            Voice voices[laneWidth];
            LiteralPitch literal[laneWidth];
            const float driftRates[] = { 3.0f, 7.0f, 4.1f, 6.3f };
            const double driftPhases[] = { 0.3, 5.9, 36000.25, 151200.7 };
            for (int l = 0; l < laneWidth; ++l)
            {
                voices[l].active = true;
                voices[l].driftPhase = driftPhases[l];
                voices[l].driftStep = (double) driftRates[l] / rate;
                voices[l].trillInterval = 1 + l % 2;
                literal[l] = { driftPhases[l], voices[l].driftStep, 0.0f, voices[l].trillInterval };
            }

            // A place moves by pitch times speed each sample, so a lane's sum of pitches gives it for
            // every instrument.
            double pitchSum[laneWidth] = {}, literalSum[laneWidth] = {};
            double worst = 0.0;

            const int on[laneWidth] = { 1, 1, 1, 1 };
            static RenderScratch scratch {};
            auto& group = scratch.group;
            const int chunkSizes[] = { 64, 37, 1, 64, 16, 63 };   // spans cut where events would cut them
            const auto total = (long) (60.0 * rate);
            int chunk = 0;
            for (long done = 0; done < total; ++chunk)
            {
                const auto n = (int) std::min<long> (chunkSizes[chunk % 6], total - done);
                expression::pitchOffsets (voices, on, block, setting.modWheel, group, n);
                for (int s = 0; s < n; ++s)
                    for (int l = 0; l < laneWidth; ++l)
                    {
                        const auto exact = literal[l].next (setting.driftAmount, setting.modWheel, sr);
                        worst = std::max (worst, std::abs (group.pitch[s][l] / exact - 1.0));
                        pitchSum[l] += group.pitch[s][l];
                        literalSum[l] += exact;
                    }
                done += n;
            }

            EXPECT_LE (worst, centLimit) << rate << " Hz, drift " << setting.driftAmount << ", wheel " << setting.modWheel;
            const auto speeds = speedsOfEveryInstrument (bankOwner.samples, rate);
            for (size_t i = 0; i < speeds.size(); ++i)
                for (int l = 0; l < laneWidth; ++l)
                    EXPECT_NEAR (pitchSum[l] * speeds[i], literalSum[l] * speeds[i], 0.01)
                        << instrumentTable[i].name << ", lane " << l << ", " << rate << " Hz, drift " << setting.driftAmount
                        << ", wheel " << setting.modWheel;
        }
}

// Every instruction set the processor has renders every instrument as the portable voice pass does,
// to the bit, through drift, trill, tremolo, glides, releases, stealing and odd block sizes.
TEST (Pitch, EveryInstructionSetRendersThePortableSamples)
{
    const auto midi = [] (std::vector<std::pair<std::vector<juce::uint8>, int>> events) {
        juce::MidiBuffer buffer;
        for (const auto& [bytes, at] : events)
            buffer.addEvent (bytes.data(), (int) bytes.size(), at);
        return buffer;
    };
    std::vector<std::pair<std::vector<juce::uint8>, int>> chord { { cc (1, 100), 0 } };
    for (int k = 0; k < 18; ++k)
        chord.push_back ({ on (40 + 3 * k, 30 + 5 * k), 7 * k });
    chord.push_back ({ off (43), 300 });
    const auto start = midi (chord);
    const auto later = midi ({ { off (52), 3 }, { cc (1, 20), 5 }, { on (90, 64), 6 } });

    for (const auto& row : instrumentTable)
    {
        std::vector<InstructionSet> sets;
        std::vector<std::vector<float>> renders;
        for (auto set : instructions::all)
        {
            if (! instructions::isAvailable (set))
                continue;
            TestEngine e;
            e.useInstructions (set);
            ASSERT_EQ (e.instructionsInUse(), set);
            setParameter (e, Parameter::instrument, (float) row.id);
            setParameter (e, Parameter::drift, 60.0f);
            setParameter (e, Parameter::ornament, 50.0f);
            setParameter (e, Parameter::release, 0.02f);
            e.prepare (48000.0, 512);
            e.seedRandom (7);

            std::vector<float> samples;
            for (int b = 0; b < 40; ++b)
            {
                const auto block = render (e, b % 3 == 0 ? 29 : 512, b == 0 ? start : b == 20 ? later : juce::MidiBuffer {}, 2);
                for (int ch = 0; ch < 2; ++ch)
                    samples.insert (samples.end(), block.getReadPointer (ch), block.getReadPointer (ch) + block.getNumSamples());
            }
            sets.push_back (set);
            renders.push_back (std::move (samples));
        }

        for (size_t r = 1; r < renders.size(); ++r)
            EXPECT_EQ (0, std::memcmp (renders[0].data(), renders[r].data(), sizeof (float) * renders[0].size()))
                << row.name << " on " << instructions::name (sets[r]);
    }
}
