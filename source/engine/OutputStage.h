#pragma once

#include "engine/BlockValues.h"

// What the voices' sum goes through, sample by sample, before the reverb: normalised for the number
// of sounding voices, darkened by the tone filter, faded for focus mode and driven into a saturator.
struct OutputStage
{
    // One output sample, which never exceeds 0.92.
    float sample (float sum, int voiceCount, const BlockValues& b) noexcept;

    // The focus fade over n samples of an idle block, as `sample` would have moved it.
    void settleFocusGain (int n, float target) noexcept;

    float toneState = 0.0f;
    float focusGain = 1.0f;
};
