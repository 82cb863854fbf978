#include "core/PluginProcessor.h"

// The bagpipe drone: both recordings read one frame per output sample from a shared position that
// restarts at the end of the low drone, with a slow level wobble that follows the drift.
float KestruneProcessor::droneSample() noexcept
{
    if (! droneLow.loaded || ! droneHigh.loaded)
        return 0.0f;

    const auto lenLow = droneLow.buffer.getNumSamples();
    const auto lenHigh = droneHigh.buffer.getNumSamples();
    const auto i = (int) dronePosition;

    const auto a = droneLow.buffer.getReadPointer (0)[i % lenLow];
    const auto b = droneHigh.buffer.getReadPointer (0)[i % lenHigh];
    const auto wobble = std::sin ((float) dronePosition * 0.0001f) * block.driftAmount * 0.002f + 1.0f;

    dronePosition += 1.0;
    if (dronePosition >= (double) lenLow)
        dronePosition = 0.0;

    return wobble * ((b * 0.5f + a * 0.5f) * block.droneLevel);
}
