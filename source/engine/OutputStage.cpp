#include "engine/Engine.h"

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
} // namespace

// Normalises the sum for the number of sounding voices, darkens it, fades it for focus mode and
// drives it into the saturator, whose output never exceeds 0.92.
float Engine::outputSample (float sum, int voiceCount) noexcept
{
    if (voiceCount > 1)
        sum = sum / voiceCountRoots.root[voiceCount];

    toneState = toneState + (sum - toneState) * block.toneCoefficient;
    focusGain = focusGain + (block.focusTarget - focusGain) * 0.001f;
    return std::tanh (block.drive * toneState) * 0.92f * focusGain;
}
