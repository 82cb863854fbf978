#pragma once

#include "engine/Voice.h"

#include <juce_core/juce_core.h>

#include <cmath>

// Pitch and level movements of one voice, evaluated once per sample in the voice pass.
namespace expression
{
constexpr float twoPi = 6.2831855f;

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

// Semitones of slow wobble: two sines at the voice's own rate and 0.7 times it.
inline float driftOffset (Voice& v, const BlockValues& b) noexcept
{
    if (b.driftAmount <= 0.01f)
        return 0.0f;

    v.driftPhase += v.driftStep;
    const auto slow = std::sin (v.driftPhase * 0.7f * twoPi);
    const auto fast = std::sin (v.driftPhase * twoPi);
    return (slow * 0.3f + fast * 0.7f) * b.driftAmount * 0.15f;
}

// RHODES amplitude wobble on the mod wheel; releasing voices keep it.
inline float tremoloGain (Voice& v, const BlockValues& b) noexcept
{
    if (! b.tremoloOn)
        return 1.0f;

    v.tremoloPhase += b.tremoloStep;
    if (v.tremoloPhase >= 1.0f)
        v.tremoloPhase -= 1.0f;

    return 1.0f - (std::sin (v.tremoloPhase * twoPi) * 0.5f + 0.5f) * b.tremoloDepth;
}

// 2^(semitones / 12) in double; exactly 1 without any offset, which skips the power entirely.
inline double pitchFactor (float semitones) noexcept
{
    return juce::exactlyEqual (semitones, 0.0f) ? 1.0 : std::exp2 ((double) semitones / 12.0);
}
} // namespace expression
