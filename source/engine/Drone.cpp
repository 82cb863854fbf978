#include "engine/Engine.h"
#include "engine/FastMath.h"

// The bagpipe drone, added to the next n samples of the voices' sum: both recordings read one frame
// per output sample from a shared position that restarts at the end of the low drone, with a slow
// level wobble that follows the drift.
void Engine::addDrone (int n) noexcept
{
    if (! bank->droneLow.loaded || ! bank->droneHigh.loaded)
        return;

    const auto lenLow = bank->droneLow.buffer.getNumSamples();
    const auto lenHigh = bank->droneHigh.buffer.getNumSamples();
    const auto* low = bank->droneLow.buffer.getReadPointer (0);
    const auto* high = bank->droneHigh.buffer.getReadPointer (0);
    auto& w = scratch;

    for (int s = 0; s < n; ++s)
    {
        const auto i = (int) dronePosition;
        w.out[s] = (high[i % lenHigh] * 0.5f + low[i % lenLow] * 0.5f) * block.droneLevel;
        w.argA[s] = (float) dronePosition * 0.0001f;

        dronePosition += 1.0;
        if (dronePosition >= (double) lenLow)
            dronePosition = 0.0;
    }
    fastmath::sines (w.argA, w.sinA, n);

    for (int s = 0; s < n; ++s)
        w.mix[s] += (w.sinA[s] * block.driftAmount * 0.002f + 1.0f) * w.out[s];
}
