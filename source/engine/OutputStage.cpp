#include "engine/OutputStage.h"
#include "engine/Voice.h"

#include <juce_core/juce_core.h>

#include <cmath>

namespace
{
// sqrtf of every possible voice count, so the sample loop only divides.
struct VoiceCountRoots
{
    VoiceCountRoots() noexcept
    {
        for (int n = 0; n <= numVoices; ++n)
            root[n] = std::sqrt ((float) n);
    }
    float root[numVoices + 1];
};

const VoiceCountRoots voiceCountRoots;

// The focus fade's step: a thousand-sample time constant towards the target.
inline float nextFocusGain (float gain, float target) noexcept
{
    return gain + (target - gain) * 0.001f;
}
} // namespace

float OutputStage::sample (float sum, int voiceCount, const BlockValues& b) noexcept
{
    if (voiceCount > 1)
        sum = sum / voiceCountRoots.root[voiceCount];

    toneState = toneState + (sum - toneState) * b.toneCoefficient;
    focusGain = nextFocusGain (focusGain, b.focusTarget);
    return std::tanh (b.drive * toneState) * 0.92f * focusGain;
}

// Rounding stops the fade at a value it then keeps, so a settled fade costs nothing.
void OutputStage::settleFocusGain (int n, float target) noexcept
{
    for (int s = 0; s < n; ++s)
    {
        const auto next = nextFocusGain (focusGain, target);
        if (juce::exactlyEqual (next, focusGain))
            return;
        focusGain = next;
    }
}
