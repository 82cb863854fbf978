#pragma once

#include "engine/Expression.h"

#include <juce_core/juce_core.h>

// The two synthesised instruments. Their pitch comes from the note alone; `pitch` is the voice's
// drift and trill factor for this sample.
namespace synth
{
// Bandwidths of the three CHANT formant stages times pi, and their centre frequencies by formant set.
constexpr float formantPiBandwidth[3] = { 251.32742f, 376.99112f, 502.65485f };
constexpr float formantFrequency[2][3] = { { 600.0f, 1000.0f, 2500.0f }, { 800.0f, 1200.0f, 2800.0f } };
constexpr float formantWeight[3] = { 0.5f, 0.3f, 0.2f };

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
    return std::cos (frequency * expression::twoPi / sampleRate);
}

// A sung vowel: a damped ramp pulse with a little noise through three formant stages, with a
// vibrato whose rate grows with the drift phase.
inline float chantSample (Voice& v, const BlockValues& b, juce::Random& random, double pitch) noexcept
{
    const auto vibrato = std::sin (((v.driftPhase * 0.1f + 5.5f) * v.driftPhase) * expression::twoPi * 0.1f);
    auto f = v.baseFrequency * (float) pitch;
    f = f * (vibrato * b.vibratoDepth + 1.0f);

    v.chantPhase += f / b.sampleRate;
    if (v.chantPhase >= 1.0f)
        v.chantPhase -= 1.0f;

    const auto pulse = std::exp (v.chantPhase * -3.0f) * (v.chantPhase * 2.0f - 1.0f);
    const auto x = (random.nextFloat() * 2.0f - 1.0f) * 0.03f + pulse;

    const auto* cosine = b.formantCosine[v.formantSet];
    float out[3];
    for (int k = 0; k < 3; ++k)
    {
        v.formantState[k] = b.formantPole[k] * v.formantState[k] + b.formantGain[k] * x;
        out[k] = cosine[k] * v.formantState[k] + x;
    }
    return (out[0] * formantWeight[0] + out[1] * formantWeight[1] + out[2] * formantWeight[2]) * 0.7f;
}

// Per-note constants of the RHODES depth envelope: higher notes lose their bite faster.
inline float rhodesDecay (int note, float sampleRate) noexcept
{
    const auto k = juce::jlimit (0.5f, 2.0f, (float) (note - 40) / 40.0f);
    return 1.0f - (k * 8.0f + 3.0f) / sampleRate;
}

// An electric piano: a carrier phase-modulated by a sine with a seventh harmonic, the depth set by
// velocity and decaying after the attack.
inline float rhodesSample (Voice& v, const BlockValues& b, double pitch) noexcept
{
    using expression::twoPi;

    v.modulatorEnvelope = v.envelopeDecay * v.modulatorEnvelope;
    if (v.modulatorEnvelope < 0.001f)
        v.modulatorEnvelope = 0.001f;

    const auto index = v.indexScale * v.modulatorEnvelope;
    const auto step = (v.baseFrequency * (float) pitch) / b.sampleRate;

    v.modulatorPhase += step;
    if (v.modulatorPhase >= 1.0f)
        v.modulatorPhase -= 1.0f;

    const auto m = std::sin (v.modulatorPhase * twoPi) + std::sin (v.modulatorPhase * 7.0f * twoPi) * 0.15f;

    // Strong modulation can push the carrier backwards.
    v.carrierPhase += m * index * step + step;
    if (v.carrierPhase >= 1.0f)
        v.carrierPhase -= std::floor (v.carrierPhase);
    if (v.carrierPhase < 0.0f)
        v.carrierPhase += 1.0f;

    const auto c = std::sin (v.carrierPhase * twoPi) + std::sin (v.carrierPhase * 2.0f * twoPi) * 0.08f;
    return c * 0.7f * expression::tremoloGain (v, b);
}
} // namespace synth
