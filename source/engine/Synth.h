#pragma once

#include "engine/Expression.h"

// The two synthesised instruments. Their pitch comes from the note's tuned frequency, moved by the voice's
// drift and trill in group.pitch; each renders the voice's next n samples into group.out.
namespace synth
{
using expression::twoPi;

// Bandwidths of the three CHANT formant stages times pi, and their centre frequencies by formant set.
constexpr float formantPiBandwidth[3] = { 251.32742f, 376.99112f, 502.65485f };
constexpr float formantFrequency[2][3] = { { 600.0f, 1000.0f, 2500.0f }, { 800.0f, 1200.0f, 2800.0f } };

// The frequency of a pitch given as a fractional note number; a whole number gives exactly the
// equal-tempered frequency it always has.
inline float noteFrequency (double pitch) noexcept
{
    return std::pow (2.0f, (float) (pitch - 69.0) / 12.0f) * 440.0f;
}

// The stage's one-pole coefficient, clamped so that low host rates give a stable (zero) pole.
inline float formantPole (float piBandwidth, float sampleRate) noexcept
{
    const auto r = 1.0f - piBandwidth / sampleRate;
    return r < 0.0f ? 0.0f : juce::jmin (r, 0.999f);
}

inline float formantCosine (float frequency, float sampleRate) noexcept
{
    return std::cos (frequency * twoPi / sampleRate);
}

// A sung vowel: a damped ramp pulse with a little noise through three formant stages, each adding
// a low-passed copy of the excitation, with a vibrato whose rate grows with the drift phase. Renders
// the next n samples of the group's four voices (v points at the first) into group.out, from their noise
// draws; only lanes whose `on` is 1 keep their new state.
inline void renderChant (Voice* voices, const int* on, const BlockValues& block, const float (*noise)[laneWidth],
                         VoiceGroup& group, int n) noexcept
{
    using namespace lanes;
    auto& work = group.stage.chant;

    for (int s = 0; s < n; ++s)
    {
        const auto drift = loadDoubles (group.driftPhase[s]);
        store (work.vibratoArgument[s], sineArguments ({ ((drift.low * 0.1 + 5.5) * drift.low) * 0.1, ((drift.high * 0.1 + 5.5) * drift.high) * 0.1 }));
    }
    fastmath::sines (&work.vibratoArgument[0][0], &work.vibratoSine[0][0], n * laneWidth);

    const auto baseFrequency = gather (voices, &Voice::baseFrequency);
    auto pulsePhase = gather (voices, &Voice::chant, &ChantState::pulsePhase);
    for (int s = 0; s < n; ++s)
    {
        auto frequency = baseFrequency * toFloats (loadDoubles (group.pitch[s]));
        frequency = frequency * (load (work.vibratoSine[s]) * block.vibratoDepth + 1.0f);
        pulsePhase = advancePhase (pulsePhase, frequency / block.sampleRate);
        store (work.pulsePhase[s], pulsePhase);
    }

    const auto count = n * laneWidth;
    const auto* phase = &work.pulsePhase[0][0];
    auto* pulse = &work.pulse[0][0];
    for (int i = 0; i < count; ++i)
        pulse[i] = std::exp (phase[i] * -3.0f) * (phase[i] * 2.0f - 1.0f);

    Floats cosine[3], state[3];
    for (int k = 0; k < 3; ++k)
        for (int l = 0; l < laneWidth; ++l)
        {
            cosine[k][l] = block.formantCosine[voices[l].chant.formantSet][k];
            state[k][l] = voices[l].chant.formantState[k];
        }

    for (int s = 0; s < n; ++s)
    {
        const auto x = (load (noise[s]) * 2.0f - 1.0f) * 0.03f + load (work.pulse[s]);
        state[0] = block.formantPole[0] * state[0] + block.formantGain[0] * x;
        state[1] = block.formantPole[1] * state[1] + block.formantGain[1] * x;
        state[2] = block.formantPole[2] * state[2] + block.formantGain[2] * x;
        const auto o0 = cosine[0] * state[0] + x;
        const auto o1 = cosine[1] * state[1] + x;
        const auto o2 = cosine[2] * state[2] + x;
        store (group.out[s], (o0 * 0.5f + o1 * 0.3f + o2 * 0.2f) * 0.7f);
    }

    for (int l = 0; l < laneWidth; ++l)
    {
        if (on[l] == 0)
            continue;
        voices[l].chant.pulsePhase = pulsePhase[l];
        for (int k = 0; k < 3; ++k)
            voices[l].chant.formantState[k] = state[k][l];
    }
}

// Per-note constant of the RHODES depth envelope: higher notes lose their bite faster.
inline float rhodesDecay (int note, float sampleRate) noexcept
{
    const auto k = juce::jlimit (0.5f, 2.0f, (float) (note - 40) / 40.0f);
    return 1.0f - (k * 8.0f + 3.0f) / sampleRate;
}

// The sines of `count` operator phases p (in cycles) and of `harmonic` times them: an operator's
// fundamental and one of its overtones, with their arguments.
inline void operatorSines (const float* phase, float harmonic, float* fundamentalArgument, float* overtoneArgument,
                           float* fundamentalSine, float* overtoneSine, int count) noexcept
{
    for (int i = 0; i < count; ++i)
    {
        fundamentalArgument[i] = phase[i] * twoPi;
        overtoneArgument[i] = phase[i] * harmonic * twoPi;
    }
    fastmath::sines (fundamentalArgument, fundamentalSine, count);
    fastmath::sines (overtoneArgument, overtoneSine, count);
}

// An electric piano: a carrier phase-modulated by a sine with a seventh harmonic, the depth set by
// velocity and decaying after the attack. Renders the next n samples of the group's four voices into
// group.out; only lanes whose `on` is 1 keep their new state.
inline void renderRhodes (Voice* voices, const int* on, const BlockValues& block, VoiceGroup& group, int n) noexcept
{
    using namespace lanes;
    auto& work = group.stage.rhodes;

    auto envelope = gather (voices, &Voice::rhodes, &RhodesState::modulatorEnvelope);
    const auto decay = gather (voices, &Voice::rhodes, &RhodesState::envelopeDecay);
    const auto indexScale = gather (voices, &Voice::rhodes, &RhodesState::indexScale);
    const auto baseFrequency = gather (voices, &Voice::baseFrequency);
    auto modulatorPhase = gather (voices, &Voice::rhodes, &RhodesState::modulatorPhase);
    for (int s = 0; s < n; ++s)
    {
        envelope = decay * envelope;
        const Ints floored = envelope < 0.001f;
        if (anyLane (floored))
            envelope = floored ? Floats {} + 0.001f : envelope;
        store (work.index[s], indexScale * envelope);

        const auto step = (baseFrequency * toFloats (loadDoubles (group.pitch[s]))) / block.sampleRate;
        store (work.step[s], step);
        modulatorPhase = advancePhase (modulatorPhase, step);
        store (work.modulatorPhase[s], modulatorPhase);
    }

    const auto count = n * laneWidth;
    operatorSines (&work.modulatorPhase[0][0], 7.0f, &work.modulatorArgument[0][0], &work.seventhArgument[0][0],
                   &work.modulatorSine[0][0], &work.seventhSine[0][0], count);

    // Strong modulation can push the carrier backwards. Its whole cycles come off by truncation,
    // which is its floor there (it is at least 1); from 2^23 up a float has no fraction left to keep.
    auto carrierPhase = gather (voices, &Voice::rhodes, &RhodesState::carrierPhase);
    for (int s = 0; s < n; ++s)
    {
        const auto step = load (work.step[s]);
        carrierPhase += (load (work.modulatorSine[s]) + load (work.seventhSine[s]) * 0.15f) * load (work.index[s]) * step + step;
        if (anyLane ((carrierPhase >= 1.0f) | (carrierPhase < 0.0f)))
        {
            const auto small = carrierPhase < 8388608.0f;
            const auto whole = small ? __builtin_convertvector (__builtin_convertvector (small ? carrierPhase : Floats {}, Ints), Floats)
                                     : carrierPhase;
            carrierPhase = carrierPhase >= 1.0f ? carrierPhase - whole : carrierPhase;
            carrierPhase = carrierPhase < 0.0f ? carrierPhase + 1.0f : carrierPhase;
        }
        store (work.carrierPhase[s], carrierPhase);
    }

    operatorSines (&work.carrierPhase[0][0], 2.0f, &work.carrierArgument[0][0], &work.octaveArgument[0][0],
                   &work.carrierSine[0][0], &work.octaveSine[0][0], count);

    const auto* carrier = &work.carrierSine[0][0];
    const auto* octave = &work.octaveSine[0][0];
    auto* out = &group.out[0][0];
    for (int i = 0; i < count; ++i)
        out[i] = (carrier[i] + octave[i] * 0.08f) * 0.7f;

    for (int l = 0; l < laneWidth; ++l)
    {
        if (on[l] == 0)
            continue;
        voices[l].rhodes.modulatorEnvelope = envelope[l];
        voices[l].rhodes.modulatorPhase = modulatorPhase[l];
        voices[l].rhodes.carrierPhase = carrierPhase[l];
    }
}
} // namespace synth
