#pragma once

#include "engine/BlockValues.h"
#include "engine/Lanes.h"

#include <juce_core/juce_core.h>

#include <algorithm>

namespace envelopes
{
// Runs the envelopes of a group's four voices (v points at the first) over the next n samples into
// `levels`, and sets `rendered` for each lane that is on: all n, or fewer when its release ends (the
// voice is freed on that sample, counted but silent).
inline void advance (Voice* voices, const int* on, const BlockValues& block, float (*levels)[laneWidth],
                              int* rendered, int n) noexcept
{
    using namespace lanes;

    int releasingLanes[laneWidth];
    for (int l = 0; l < laneWidth; ++l)
        releasingLanes[l] = voices[l].releasing ? -1 : 0;
    const auto releasing = load (releasingLanes);

    auto level = gather (voices, &Voice::level);
    auto sustained = block.attackStep >= 0.0f;
    for (int l = 0; l < laneWidth; ++l)
        sustained = sustained && (on[l] == 0 || (releasingLanes[l] == 0 && juce::exactlyEqual (level[l], 1.0f)));

    if (sustained)
    {
        // Held notes past their attack stay at full level, which the steps below would only confirm
        // (lanes that are off take any value).
        std::fill (&levels[0][0], &levels[0][0] + n * laneWidth, 1.0f);
    }
    else
    {
        // Each lane steps by its own amount (taking away the release step is adding its negation); a
        // rising one stops at full level, a falling one goes on below zero, its voice ending on the
        // first sample at or below it.
        const auto step = releasing ? Floats {} - block.releaseStep : Floats {} + block.attackStep;
        for (int s = 0; s < n; ++s)
        {
            const auto next = level + step;
            const Ints capped = (1.0f < next) & ~releasing;
            level = anyLane (capped) ? (capped ? Floats {} + 1.0f : next) : next;
            store (levels[s], level);
        }
    }

    for (int l = 0; l < laneWidth; ++l)
    {
        if (on[l] == 0)
            continue;

        rendered[l] = n;
        if (releasing[l] != 0)
        {
            for (int s = 0; s < n; ++s)
            {
                if (levels[s][l] <= 0.0f)
                {
                    voices[l].active = false;
                    rendered[l] = s;
                    level[l] = levels[s][l];
                    break;
                }
            }
        }
        voices[l].level = level[l];
    }
}
} // namespace envelopes
