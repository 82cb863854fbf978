#include "engine/SoundEngine.h"
#include "engine/FastMath.h"

// The bagpipe drone, added to the next n samples of the voices' sum: both reeds read from one shared
// position that moves at the recordings' own rate, whatever the host's, with linear interpolation; the
// position steps back by the low reed's length at its end (the high reed is heard over the same span),
// and a slow level wobble follows the drift.
void Engine::addDrone (int n) noexcept
{
    const auto& lowZone = bank->droneLow;
    const auto& highZone = bank->droneHigh;
    if (! lowZone.loaded || ! highZone.loaded)
        return;

    const auto lenLow = lowZone.buffer.getNumSamples();
    const auto lenHigh = highZone.buffer.getNumSamples();
    const auto* low = lowZone.buffer.getReadPointer (0);
    const auto* high = highZone.buffer.getReadPointer (0);
    const auto step = lowZone.sampleRate / currentSampleRate;
    // The voices are done with the group's arrays by now.
    auto* out = &scratch.group.out[0][0];
    auto* argument = &scratch.group.argA[0][0];
    auto* sine = &scratch.group.sinA[0][0];

    for (int s = 0; s < n; ++s)
    {
        const auto i = (int) dronePosition;
        const auto frac = (float) (dronePosition - i);
        const auto a0 = low[i % lenLow], a1 = low[(i + 1) % lenLow];
        const auto b0 = high[i % lenHigh], b1 = high[(i + 1) % lenHigh];
        const auto a = a0 + frac * (a1 - a0);
        const auto b = b0 + frac * (b1 - b0);
        out[s] = (b * 0.5f + a * 0.5f) * block.droneLevel;
        argument[s] = (float) dronePosition * 0.0001f;

        dronePosition += step;
        if (dronePosition >= (double) lenLow)
            dronePosition = std::fmod (dronePosition, (double) lenLow);   // exact: keeps the fraction
    }
    fastmath::sines (argument, sine, n);

    for (int s = 0; s < n; ++s)
        scratch.mix[s] += (sine[s] * block.driftAmount * 0.002f + 1.0f) * out[s];
}
