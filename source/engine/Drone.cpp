#include "engine/Drone.h"
#include "engine/FastMath.h"

// Both reeds read from the shared position, which moves at the recordings' own rate (times the
// tuning's factor), whatever the host's, with linear interpolation; the position steps back by the
// low reed's length at its end (the high reed is heard over the same span), and a slow level wobble
// follows the drift.
void Drone::addTo (float* mix, int n, const SampleBank& bank, double hostRate, const BlockValues& b) noexcept
{
    const auto& lowZone = bank.droneLow;
    const auto& highZone = bank.droneHigh;
    if (! lowZone.loaded || ! highZone.loaded)
        return;

    const auto lenLow = lowZone.buffer.getNumSamples();
    const auto lenHigh = highZone.buffer.getNumSamples();
    const auto* low = lowZone.buffer.getReadPointer (0);
    const auto* high = highZone.buffer.getReadPointer (0);
    const auto step = lowZone.sampleRate / hostRate * pitchFactor;

    for (int s = 0; s < n; ++s)
    {
        const auto i = (int) position;
        const auto frac = (float) (position - i);
        const auto a0 = low[i % lenLow], a1 = low[(i + 1) % lenLow];
        const auto b0 = high[i % lenHigh], b1 = high[(i + 1) % lenHigh];
        const auto a = a0 + frac * (a1 - a0);
        const auto h = b0 + frac * (b1 - b0);
        signal[s] = (h * 0.5f + a * 0.5f) * b.droneLevel;
        wobbleArgument[s] = (float) position * 0.0001f;

        position += step;
        if (position >= (double) lenLow)
            position = std::fmod (position, (double) lenLow);   // exact: keeps the fraction
    }
    fastmath::sines (wobbleArgument, wobble, n);

    for (int s = 0; s < n; ++s)
        mix[s] += (wobble[s] * b.driftAmount * 0.002f + 1.0f) * signal[s];
}
