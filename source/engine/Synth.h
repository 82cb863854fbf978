#pragma once

#include "engine/Expression.h"

// The two synthesised instruments. Their pitch comes from the note alone, moved by the voice's
// drift and trill in w.pitch; each renders the voice's next n samples into w.out.
namespace synth
{
using expression::twoPi;

// Bandwidths of the three CHANT formant stages times pi, and their centre frequencies by formant set.
constexpr float formantPiBandwidth[3] = { 251.32742f, 376.99112f, 502.65485f };
constexpr float formantFrequency[2][3] = { { 600.0f, 1000.0f, 2500.0f }, { 800.0f, 1200.0f, 2800.0f } };

inline float noteFrequency (int note) noexcept
{
    return std::pow (2.0f, (float) (note - 69) / 12.0f) * 440.0f;
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
// a low-passed copy of the excitation, with a vibrato whose rate grows with the drift phase.
inline void renderChant (Voice& v, const BlockValues& b, const float* noise, RenderScratch& w, int n) noexcept
{
    for (int s = 0; s < n; ++s)
        w.argA[s] = expression::sineArgument (((w.driftPhase[s] * 0.1 + 5.5) * w.driftPhase[s]) * 0.1);
    fastmath::sines (w.argA, w.sinA, n);

    for (int s = 0; s < n; ++s)
    {
        auto f = v.baseFrequency * (float) w.pitch[s];
        f = f * (w.sinA[s] * b.vibratoDepth + 1.0f);
        w.step[s] = f / b.sampleRate;
    }

    auto chantPhase = v.chantPhase;
    for (int s = 0; s < n; ++s)
    {
        chantPhase += w.step[s];
        if (chantPhase >= 1.0f)
            chantPhase -= 1.0f;
        w.phase[s] = chantPhase;
    }
    v.chantPhase = chantPhase;

    const auto* cosine = b.formantCosine[v.formantSet];
    auto state0 = v.formantState[0], state1 = v.formantState[1], state2 = v.formantState[2];
    for (int s = 0; s < n; ++s)
    {
        const auto phase = w.phase[s];
        const auto pulse = std::exp (phase * -3.0f) * (phase * 2.0f - 1.0f);
        const auto x = (noise[s] * 2.0f - 1.0f) * 0.03f + pulse;

        state0 = b.formantPole[0] * state0 + b.formantGain[0] * x;
        state1 = b.formantPole[1] * state1 + b.formantGain[1] * x;
        state2 = b.formantPole[2] * state2 + b.formantGain[2] * x;
        const auto o0 = cosine[0] * state0 + x;
        const auto o1 = cosine[1] * state1 + x;
        const auto o2 = cosine[2] * state2 + x;
        w.out[s] = (o0 * 0.5f + o1 * 0.3f + o2 * 0.2f) * 0.7f;
    }
    v.formantState[0] = state0;
    v.formantState[1] = state1;
    v.formantState[2] = state2;
}

// Per-note constant of the RHODES depth envelope: higher notes lose their bite faster.
inline float rhodesDecay (int note, float sampleRate) noexcept
{
    const auto k = juce::jlimit (0.5f, 2.0f, (float) (note - 40) / 40.0f);
    return 1.0f - (k * 8.0f + 3.0f) / sampleRate;
}

// An electric piano: a carrier phase-modulated by a sine with a seventh harmonic, the depth set by
// velocity and decaying after the attack.
inline void renderRhodes (Voice& v, const BlockValues& b, RenderScratch& w, int n) noexcept
{
    auto envelope = v.modulatorEnvelope;
    for (int s = 0; s < n; ++s)
    {
        envelope = v.envelopeDecay * envelope;
        if (envelope < 0.001f)
            envelope = 0.001f;
        w.index[s] = v.indexScale * envelope;
    }
    v.modulatorEnvelope = envelope;

    for (int s = 0; s < n; ++s)
        w.step[s] = (v.baseFrequency * (float) w.pitch[s]) / b.sampleRate;

    auto modulatorPhase = v.modulatorPhase;
    for (int s = 0; s < n; ++s)
    {
        modulatorPhase += w.step[s];
        if (modulatorPhase >= 1.0f)
            modulatorPhase -= 1.0f;
        w.phase[s] = modulatorPhase;
    }
    v.modulatorPhase = modulatorPhase;

    for (int s = 0; s < n; ++s)
    {
        w.argA[s] = w.phase[s] * twoPi;
        w.argB[s] = w.phase[s] * 7.0f * twoPi;
    }
    fastmath::sines (w.argA, w.sinA, n);
    fastmath::sines (w.argB, w.sinB, n);

    // Strong modulation can push the carrier backwards.
    for (int s = 0; s < n; ++s)
        w.step[s] = (w.sinA[s] + w.sinB[s] * 0.15f) * w.index[s] * w.step[s] + w.step[s];

    auto carrierPhase = v.carrierPhase;
    for (int s = 0; s < n; ++s)
    {
        carrierPhase += w.step[s];
        if (carrierPhase >= 1.0f)
            carrierPhase -= std::floor (carrierPhase);
        if (carrierPhase < 0.0f)
            carrierPhase += 1.0f;
        w.phase[s] = carrierPhase;
    }
    v.carrierPhase = carrierPhase;

    for (int s = 0; s < n; ++s)
    {
        w.argA[s] = w.phase[s] * twoPi;
        w.argB[s] = w.phase[s] * 2.0f * twoPi;
    }
    fastmath::sines (w.argA, w.sinA, n);
    fastmath::sines (w.argB, w.sinB, n);

    for (int s = 0; s < n; ++s)
        w.out[s] = (w.sinA[s] + w.sinB[s] * 0.08f) * 0.7f;

    expression::applyTremolo (v, b, w, n);
}
} // namespace synth
