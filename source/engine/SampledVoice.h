#pragma once

#include "engine/Voice.h"
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

// One output sample: linear interpolation at the read position, blended into the loop start over
// the crossfade, then the advance by the voice's speed. The read comes first, so the first output
// is frame 0 exactly.
inline float nextSample (Voice& v, double pitch) noexcept
{
    const auto* data = v.frames;
    const auto len = v.length;

    auto pos = (int) v.readPosition;
    if (pos >= len)
    {
        v.readPosition = v.loopStart;
        pos = v.loopStart;
    }

    const auto frac = (float) (v.readPosition - pos);
    const auto next = pos + 1 < len ? pos + 1 : 0;
    auto s = data[pos] + frac * (data[next] - data[pos]);

    const auto remaining = len - pos;
    if (remaining < v.crossfadeLength && v.crossfadeLength > 0)
    {
        const auto w = (float) remaining / (float) v.crossfadeLength;
        const auto j = v.loopStart + (v.crossfadeLength - remaining);
        if (j < len)
            s = (1.0f - w) * data[j] + w * s;
    }

    v.readPosition += pitch * v.currentIncrement;
    return s;
}
} // namespace sampled
