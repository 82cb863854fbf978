#pragma once

#include "engine/BlockValues.h"
#include "engine/RenderScratch.h"
#include "samplebank/Bank.h"

// The bagpipe drone, two reeds under the voices. It keeps its own place in the recordings from block
// to block and its own work arrays.
struct Drone
{
    // Adds the drone to the next n samples (at most one chunk) of `mix`.
    void addTo (float* mix, int n, const SampleBank& bank, double hostRate, const BlockValues& b) noexcept;

    double position = 0.0;               // in frames of the recordings, shared by both reeds
    double pitchFactor = 1.0;            // of the read speed, from the tuning; 1 plays the recordings as they are

    float signal[renderChunk];           // both reeds, at the drone's level
    float wobbleArgument[renderChunk];   // the slow level wobble's sine argument and its sine
    float wobble[renderChunk];
};
