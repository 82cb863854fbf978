#pragma once

#include "engine/BlockValues.h"
#include "engine/FastMath.h"
#include "engine/Lanes.h"

#include <juce_core/juce_core.h>

// Pitch and level movements of the voices. Each stage runs over the samples a voice renders in the
// current chunk, in the order the sound defines them per sample: glide, trill, drift.
namespace expression
{
constexpr float twoPi = 6.2831855f;

// One step of the ornament's S-curve from the previous note's read speed to the voice's own.
inline void advanceGlide (Voice& voice) noexcept
{
    voice.glideProgress += voice.glideStep;

    if (voice.glideProgress >= 1.0f)
    {
        voice.gliding = false;
        voice.glideProgress = 1.0f;
        voice.sampled.currentIncrement = voice.sampled.targetIncrement;
        return;
    }

    const auto p = voice.glideProgress;
    const auto h = p < 0.5f ? 2.0f * p * p : 1.0f - 2.0f * (1.0f - p) * (1.0f - p);
    const auto from = voice.sampled.glideFromIncrement;
    voice.sampled.currentIncrement = (voice.sampled.targetIncrement - from) * (double) h + from;
}

// Fills group.semitones with drift plus trill and group.pitch with 2^(semitones / 12) for the next n
// samples of the group's four voices (voices points at the first), and group.driftPhase with the drift
// phase each sample leaves (CHANT's vibrato reads it). Only lanes whose `on` is 1 keep their new phases.
//
// The trill: half a cycle at the note, half raised, a short ramp between them and a jump back at the
// cycle's end; a releasing voice returns to its note at once. The drift: a slow wobble of two sines
// at the voice's own rate and 0.7 times it.
inline void pitchOffsets (Voice* voices, const int* on, const BlockValues& block, float modWheel, VoiceGroup& group, int n) noexcept
{
    using namespace lanes;

    int trillingLanes[laneWidth];
    for (int l = 0; l < laneWidth; ++l)
        trillingLanes[l] = (on[l] != 0 && block.trillOn && ! voices[l].releasing) ? -1 : 0;
    const auto trilling = load (trillingLanes);
    const auto anyTrill = anyLane (trilling);

    if (anyTrill)
    {
        // Lanes that do not trill step by zero, which leaves their phases (in [0, 1)) as they are.
        const auto trillStep = trilling ? Floats {} + block.trillStep : Floats {};
        auto trillPhase = gather (voices, &Voice::trillPhase);
        const auto interval = gather (voices, &Voice::trillInterval);
        for (int s = 0; s < n; ++s)
        {
            trillPhase = advancePhase (trillPhase, trillStep);

            Floats raised = trillPhase >= 0.5f ? Floats {} + 1.0f : Floats {};
            raised = (trillPhase > 0.45f) & (trillPhase < 0.55f) ? (trillPhase - 0.45f) * 10.0f : raised;
            store (group.semitones[s], trilling ? interval * raised * modWheel : Floats {});
        }
        for (int l = 0; l < laneWidth; ++l)
            voices[l].trillPhase = trillPhase[l];
    }
    else
    {
        std::fill (&group.semitones[0][0], &group.semitones[0][0] + n * laneWidth, 0.0f);
    }

    auto driftPhase = gatherDoubles (voices, &Voice::driftPhase);
    const auto drifting = block.driftAmount > 0.01f;
    if (drifting)
    {
        auto& work = group.stage.drift;
        const auto driftStep = gatherDoubles (voices, &Voice::driftStep);
        for (int s = 0; s < n; ++s)
        {
            driftPhase.low += driftStep.low;
            driftPhase.high += driftStep.high;
            store (group.driftPhase[s], driftPhase);
        }
        const double steps[laneWidth] = { driftStep.low[0], driftStep.low[1], driftStep.high[0], driftStep.high[1] };
        for (int l = 0; l < laneWidth; ++l)
            if (on[l] != 0)
                voices[l].driftPhase = group.driftPhase[n - 1][l];

        fastmath::steadySines (&group.driftPhase[0][0], steps, 0.7, &work.partnerSine[0][0], n);
        fastmath::steadySines (&group.driftPhase[0][0], steps, 1.0, &work.sine[0][0], n);

        const auto* partner = &work.partnerSine[0][0];
        const auto* own = &work.sine[0][0];
        auto* semitones = &group.semitones[0][0];
        for (int i = 0; i < n * laneWidth; ++i)
            semitones[i] = (partner[i] * 0.3f + own[i] * 0.7f) * block.driftAmount * 0.15f + semitones[i];
    }
    else
    {
        for (int s = 0; s < n; ++s)
            store (group.driftPhase[s], driftPhase);
    }

    // Without either movement the factor is exactly 1, as the power would give.
    if (anyTrill || drifting)
        fastmath::semitoneFactors (&group.semitones[0][0], &group.pitch[0][0], n * laneWidth);
    else
        std::fill (&group.pitch[0][0], &group.pitch[0][0] + n * laneWidth, 1.0);
}

// The mod wheel's amplitude wobble on the instruments whose row asks for it, multiplied into
// group.out; releasing voices keep it.
inline void applyTremolo (Voice* voices, const int* on, const BlockValues& block, VoiceGroup& group, int n) noexcept
{
    if (! block.tremoloOn)
        return;

    auto& work = group.stage.tremolo;
    auto tremoloPhase = lanes::gather (voices, &Voice::tremoloPhase);
    const auto step = lanes::Floats {} + block.tremoloStep;
    for (int s = 0; s < n; ++s)
    {
        tremoloPhase = lanes::advancePhase (tremoloPhase, step);
        lanes::store (work.argument[s], tremoloPhase * twoPi);
    }
    for (int l = 0; l < laneWidth; ++l)
        if (on[l] != 0)
            voices[l].tremoloPhase = tremoloPhase[l];

    fastmath::sines (&work.argument[0][0], &work.sine[0][0], n * laneWidth);

    const auto* sine = &work.sine[0][0];
    auto* out = &group.out[0][0];
    for (int i = 0; i < n * laneWidth; ++i)
        out[i] = out[i] * (1.0f - (sine[i] * 0.5f + 0.5f) * block.tremoloDepth);
}
} // namespace expression
