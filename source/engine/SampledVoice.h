#pragma once

#include "engine/Expression.h"
#include "samplebank/SampleZone.h"

#include <juce_core/juce_core.h>

namespace sampled
{
// Caches the zone's frames and loop points in the voice. The loop is the last 30 % of the
// recording; the crossfade at its end lasts 100 ms of host time, at most half the loop.
inline void attachZone (SampledState& state, const SampleZone* zone, double hostRate) noexcept
{
    state.zone = zone;
    if (zone == nullptr)
    {
        state.frames = nullptr;
        state.length = state.loopStart = state.crossfadeLength = 0;
        return;
    }

    state.frames = zone->buffer.getReadPointer (0);
    state.length = zone->buffer.getNumSamples();
    state.loopStart = (state.length * 7) / 10;
    state.crossfadeLength = juce::jmin ((int) (hostRate * 0.1), (state.length - state.loopStart) / 2);
}

// The next n samples of the group's four voices (v points at the first) into group.out, at the pitch
// factors in group.pitch; lane l renders rendered[l] samples, and a lane with none reads silence. Each
// sample is a linear interpolation at the read position, then the advance by the voice's speed, which
// the ornament glide moves sample by sample. The read comes first, so a note's first output is frame
// 0 exactly. The loop is seamless: over the last crossfadeLength frames the read blends into the same
// position one loop length earlier, so the last blended sample runs straight on into frame loopStart,
// and passing the end steps back by exactly one loop length, fraction and all.
inline void renderSampled (Voice* voices, const int* rendered, VoiceGroup& group, int n) noexcept
{
    using namespace lanes;

    // A lane with nothing to render stands still on one silent frame.
    static constexpr float silence[1] = { 0.0f };
    const float* data[laneWidth];
    int length[laneWidth], loopLength[laneWidth], crossfadeLength[laneWidth];
    double position[laneWidth], increment[laneWidth];
    auto gliding = false;

    for (int l = 0; l < laneWidth; ++l)
    {
        const auto& voice = voices[l];
        const auto on = rendered[l] > 0;
        data[l] = on ? voice.sampled.frames : silence;
        length[l] = on ? voice.sampled.length : 1;
        loopLength[l] = on ? voice.sampled.length - voice.sampled.loopStart : 1;
        crossfadeLength[l] = on ? voice.sampled.crossfadeLength : 0;
        position[l] = on ? voice.sampled.readPosition : 0.0;
        increment[l] = on ? voice.sampled.currentIncrement : 0.0;
        gliding = gliding || (on && voice.gliding);
    }

    // Under a glide the read speed moves sample by sample; otherwise it is the voice's own throughout.
    if (gliding)
    {
        for (int l = 0; l < laneWidth; ++l)
        {
            auto& voice = voices[l];
            int s = 0;
            for (; s < rendered[l] && voice.gliding; ++s)
            {
                expression::advanceGlide (voice);
                group.increment[s][l] = voice.sampled.currentIncrement;
            }
            for (; s < n; ++s)
                group.increment[s][l] = rendered[l] > 0 ? voice.sampled.currentIncrement : 0.0;
        }
    }
    const DoubleLanes speed { Doubles { increment[0], increment[1] }, Doubles { increment[2], increment[3] } };

    const Doubles lengthLow { (double) length[0], (double) length[1] };
    const Doubles lengthHigh { (double) length[2], (double) length[3] };
    const Ints lengths { length[0], length[1], length[2], length[3] };
    const Ints loopLengths { loopLength[0], loopLength[1], loopLength[2], loopLength[3] };
    const Ints crossfades { crossfadeLength[0], crossfadeLength[1], crossfadeLength[2], crossfadeLength[3] };
    const Floats crossfadesAsFloats = __builtin_convertvector (crossfades, Floats);
    DoubleLanes p { Doubles { position[0], position[1] }, Doubles { position[2], position[3] } };

    for (int s = 0; s < n; ++s)
    {
        // A whole read position never reaches the length unless the position itself does.
        const Longs beyond = (p.low >= lengthLow) | (p.high >= lengthHigh);
        if (anyLane (beyond))
        {
            double at[laneWidth] = { p.low[0], p.low[1], p.high[0], p.high[1] };
            for (int l = 0; l < laneWidth; ++l)
                while ((int) at[l] >= length[l])
                    at[l] -= loopLength[l];
            p = { Doubles { at[0], at[1] }, Doubles { at[2], at[3] } };
        }

        const Ints pos { (int) p.low[0], (int) p.low[1], (int) p.high[0], (int) p.high[1] };
        const auto frac = toFloats ({ p.low - Doubles { (double) pos[0], (double) pos[1] },
                                      p.high - Doubles { (double) pos[2], (double) pos[3] } });
        const Ints next = pos + 1 < lengths ? pos + 1 : Ints {};
        const Floats here { data[0][pos[0]], data[1][pos[1]], data[2][pos[2]], data[3][pos[3]] };
        const Floats there { data[0][next[0]], data[1][next[1]], data[2][next[2]], data[3][next[3]] };
        auto y = here + frac * (there - here);

        const auto remaining = lengths - pos;
        const auto partnerAt = pos - loopLengths;
        const Ints blending = (remaining < crossfades) & (partnerAt >= 0);
        if (anyLane (blending))
        {
            Floats partner {};
            for (int l = 0; l < laneWidth; ++l)
                if (blending[l] != 0)
                    partner[l] = data[l][partnerAt[l]] + frac[l] * (data[l][partnerAt[l] + 1] - data[l][partnerAt[l]]);

            const auto wet = __builtin_convertvector (remaining, Floats) / crossfadesAsFloats;
            y = blending ? wet * y + (1.0f - wet) * partner : y;
        }

        store (group.out[s], y);
        const auto pitch = loadDoubles (group.pitch[s]);
        const auto at = gliding ? loadDoubles (group.increment[s]) : speed;
        p.low += pitch.low * at.low;
        p.high += pitch.high * at.high;
    }

    const double positions[laneWidth] = { p.low[0], p.low[1], p.high[0], p.high[1] };
    for (int l = 0; l < laneWidth; ++l)
        if (rendered[l] > 0)
            voices[l].sampled.readPosition = positions[l];
}
} // namespace sampled
