#pragma once

// The twelve settings the engine reads at the start of every block, each in its own units: times in
// seconds, the percentages 0 to 100, the switches 0 or 1 (on above 0.5), the instrument its index as
// a float (truncated by the engine).
struct EngineParameters
{
    float instrument = 0.0f;
    float attack = 0.0f;
    float release = 0.0f;
    float droneVol = 0.0f;
    float droneOn = 0.0f;
    float brightness = 0.0f;
    float volume = 0.0f;
    float ornament = 0.0f;
    float drift = 0.0f;
    float reverbMix = 0.0f;
    float reverbSize = 0.0f;
    float focusMode = 0.0f;
};
