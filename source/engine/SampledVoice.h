#pragma once

#include "engine/Expression.h"
#include "samplebank/SampleZone.h"

#include <juce_core/juce_core.h>

namespace sampled
{
// Caches the zone's frames and loop points in the voice. The loop is the last 30 % of the
// recording; the crossfade into it lasts 100 ms of host time, at most half the loop.
inline void attachZone (Voice& v, const SampleZone* zone, double hostRate) noexcept
{
    v.zone = zone;
    if (zone == nullptr)
    {
        v.frames = nullptr;
        v.length = v.loopStart = v.crossfadeLength = 0;
        return;
    }

    v.frames = zone->buffer.getReadPointer (0);
    v.length = zone->buffer.getNumSamples();
    v.loopStart = (v.length * 7) / 10;
    v.crossfadeLength = juce::jmin ((int) (hostRate * 0.1), (v.length - v.loopStart) / 2);
}

// The voice's next n samples into w.out: linear interpolation at the read position, blended into
// the loop start over the crossfade, then the advance by the voice's speed, which the ornament glide
// moves sample by sample. The read comes first, so a note's first output is frame 0 exactly.
inline void renderSampled (Voice& v, RenderScratch& w, int n) noexcept
{
    const auto gliding = v.gliding;
    if (gliding)
    {
        for (int s = 0; s < n; ++s)
        {
            if (v.gliding)
                expression::advanceGlide (v);
            w.increment[s] = v.currentIncrement;
        }
    }
    const auto increment = v.currentIncrement;

    const auto* data = v.frames;
    const auto len = v.length;
    const auto loopStart = v.loopStart;
    const auto crossfadeLength = v.crossfadeLength;
    auto position = v.readPosition;

    for (int s = 0; s < n; ++s)
    {
        auto pos = (int) position;
        if (pos >= len)
        {
            position = loopStart;
            pos = loopStart;
        }

        const auto frac = (float) (position - pos);
        const auto next = pos + 1 < len ? pos + 1 : 0;
        auto y = data[pos] + frac * (data[next] - data[pos]);

        const auto remaining = len - pos;
        if (remaining < crossfadeLength && crossfadeLength > 0)
        {
            const auto wet = (float) remaining / (float) crossfadeLength;
            const auto j = loopStart + (crossfadeLength - remaining);
            if (j < len)
                y = (1.0f - wet) * data[j] + wet * y;
        }

        position += w.pitch[s] * (gliding ? w.increment[s] : increment);
        w.out[s] = y;
    }
    v.readPosition = position;
}
} // namespace sampled
