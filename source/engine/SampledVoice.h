#pragma once

#include "engine/Expression.h"
#include "samplebank/SampleZone.h"

#include <juce_core/juce_core.h>

namespace sampled
{
// Caches the zone's frames and loop points in the voice. The loop is the last 30 % of the
// recording; the crossfade at its end lasts 100 ms of host time, at most half the loop.
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

// The voice's next n samples into w.out: linear interpolation at the read position, then the advance
// by the voice's speed, which the ornament glide moves sample by sample. The read comes first, so a
// note's first output is frame 0 exactly. The loop is seamless: over the last crossfadeLength frames the
// read blends into the same position one loop length earlier, so the last blended sample runs straight
// on into frame loopStart, and passing the end steps back by exactly one loop length, fraction and all.
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
    const auto loopLength = len - v.loopStart;
    const auto crossfadeLength = v.crossfadeLength;
    auto position = v.readPosition;

    for (int s = 0; s < n; ++s)
    {
        auto pos = (int) position;
        while (pos >= len)
        {
            position -= loopLength;
            pos = (int) position;
        }

        const auto frac = (float) (position - pos);
        const auto next = pos + 1 < len ? pos + 1 : 0;
        auto y = data[pos] + frac * (data[next] - data[pos]);

        const auto remaining = len - pos;
        if (remaining < crossfadeLength && crossfadeLength > 0)
        {
            const auto j = pos - loopLength;
            if (j >= 0)
            {
                const auto wet = (float) remaining / (float) crossfadeLength;
                const auto partner = data[j] + frac * (data[j + 1] - data[j]);
                y = wet * y + (1.0f - wet) * partner;
            }
        }

        position += w.pitch[s] * (gliding ? w.increment[s] : increment);
        w.out[s] = y;
    }
    v.readPosition = position;
}
} // namespace sampled
