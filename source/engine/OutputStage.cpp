#include "engine/SoundEngine.h"

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

// Normalises the sum for the number of sounding voices, darkens it, fades it for focus mode and
// drives it into the saturator, whose output never exceeds 0.92.
float Engine::outputSample (float sum, int voiceCount) noexcept
{
    if (voiceCount > 1)
        sum = sum / voiceCountRoots.root[voiceCount];

    toneState = toneState + (sum - toneState) * block.toneCoefficient;
    focusGain = nextFocusGain (focusGain, block.focusTarget);
    return std::tanh (block.drive * toneState) * 0.92f * focusGain;
}

// The focus fade over n samples of an idle block, as the output stage would have moved it. Rounding
// stops the fade at a value it then keeps, so a settled fade costs nothing.
void Engine::settleFocusGain (int n) noexcept
{
    for (int s = 0; s < n; ++s)
    {
        const auto next = nextFocusGain (focusGain, block.focusTarget);
        if (juce::exactlyEqual (next, focusGain))
            return;
        focusGain = next;
    }
}
