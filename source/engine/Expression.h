#pragma once

#include "engine/FastMath.h"
#include "engine/Voice.h"

#include <juce_core/juce_core.h>

// Pitch and level movements of one voice. Each stage runs over the samples the voice renders in
// the current chunk, in the order the sound defines them per sample: glide, trill, drift.
namespace expression
{
constexpr float twoPi = 6.2831855f;

// The argument of sin (2 pi x) for a phase x in cycles, less its whole cycles in double first, so that
// a phase that has grown for hours gives the same sine it would have given in its first second. The
// whole cycles come from a truncation, one instruction on every x86-64 where floor is a library call.
inline float sineArgument (double cycles) noexcept
{
    return (float) ((cycles - (double) (long long) cycles) * 6.283185307179586);
}

// One step of the ornament's S-curve from the previous note's read speed to the voice's own.
inline void advanceGlide (Voice& v) noexcept
{
    v.glideProgress += v.glideStep;

    if (v.glideProgress >= 1.0f)
    {
        v.gliding = false;
        v.glideProgress = 1.0f;
        v.currentIncrement = v.targetIncrement;
        return;
    }

    const auto p = v.glideProgress;
    const auto h = p < 0.5f ? 2.0f * p * p : 1.0f - 2.0f * (1.0f - p) * (1.0f - p);
    const auto from = v.glideFromIncrement;
    v.currentIncrement = (v.targetIncrement - from) * (double) h + from;
}

// Semitones above the note: half a cycle at the note, half raised, a short ramp between them and
// a jump back at the cycle's end. A releasing voice returns to its note at once.
inline float trillOffset (Voice& v, const BlockValues& b, float modWheel) noexcept
{
    if (! b.trillOn || v.releasing)
        return 0.0f;

    v.trillPhase += b.trillStep;
    if (v.trillPhase >= 1.0f)
        v.trillPhase -= 1.0f;

    const auto phase = v.trillPhase;
    auto g = phase >= 0.5f ? 1.0f : 0.0f;
    if (phase > 0.45f && phase < 0.55f)
        g = (phase - 0.45f) / 0.1f;

    return (float) v.trillInterval * g * modWheel;
}

// Fills w.semitones with drift plus trill and w.pitch with 2^(semitones / 12) for the voice's
// next n samples, and w.driftPhase with the drift phase each sample leaves (CHANT's vibrato reads it).
// The drift is a slow wobble of two sines at the voice's own rate and 0.7 times it.
inline void pitchOffsets (Voice& v, const BlockValues& b, float modWheel, RenderScratch& w, int n) noexcept
{
    const auto trilling = b.trillOn && ! v.releasing;
    if (trilling)
    {
        auto phase = v.trillPhase;
        const auto interval = (float) v.trillInterval;
        for (int s = 0; s < n; ++s)
        {
            phase += b.trillStep;
            if (phase >= 1.0f)
                phase -= 1.0f;

            auto g = phase >= 0.5f ? 1.0f : 0.0f;
            if (phase > 0.45f && phase < 0.55f)
                g = (phase - 0.45f) / 0.1f;
            w.semitones[s] = interval * g * modWheel;
        }
        v.trillPhase = phase;
    }
    else
        std::fill (w.semitones, w.semitones + n, 0.0f);

    const auto drifting = b.driftAmount > 0.01f;
    if (drifting)
    {
        auto phase = v.driftPhase;
        for (int s = 0; s < n; ++s)
        {
            phase += v.driftStep;
            w.driftPhase[s] = phase;
        }
        v.driftPhase = phase;

        for (int s = 0; s < n; ++s)
        {
            w.argA[s] = sineArgument (w.driftPhase[s] * 0.7);
            w.argB[s] = sineArgument (w.driftPhase[s]);
        }
        fastmath::sines (w.argA, w.sinA, n);
        fastmath::sines (w.argB, w.sinB, n);

        for (int s = 0; s < n; ++s)
            w.semitones[s] = (w.sinA[s] * 0.3f + w.sinB[s] * 0.7f) * b.driftAmount * 0.15f + w.semitones[s];
    }
    else
    {
        std::fill (w.driftPhase, w.driftPhase + n, v.driftPhase);
    }

    // Without either movement the factor is exactly 1, as the power would give.
    if (trilling || drifting)
        fastmath::semitoneFactors (w.semitones, w.pitch, n);
    else
        std::fill (w.pitch, w.pitch + n, 1.0);
}

// RHODES amplitude wobble on the mod wheel, multiplied into w.out; releasing voices keep it.
inline void applyTremolo (Voice& v, const BlockValues& b, RenderScratch& w, int n) noexcept
{
    if (! b.tremoloOn)
        return;

    auto phase = v.tremoloPhase;
    for (int s = 0; s < n; ++s)
    {
        phase += b.tremoloStep;
        if (phase >= 1.0f)
            phase -= 1.0f;
        w.argA[s] = phase * twoPi;
    }
    v.tremoloPhase = phase;
    fastmath::sines (w.argA, w.sinA, n);

    for (int s = 0; s < n; ++s)
        w.out[s] = w.out[s] * (1.0f - (w.sinA[s] * 0.5f + 0.5f) * b.tremoloDepth);
}
} // namespace expression
