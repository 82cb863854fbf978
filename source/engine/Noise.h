#pragma once

#include "engine/RenderScratch.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <limits>

namespace noise
{
// juce::Random's generator, seed' = (seed * a + c) mod 2^48, taken k steps at once: k draws of one
// sample come from the same seed independently rather than one after another.
struct GeneratorJumps
{
    static constexpr std::uint64_t mask = 0xffffffffffffULL;
    std::uint64_t multiplier[numVoices + 1] {};
    std::uint64_t increment[numVoices + 1] {};

    constexpr GeneratorJumps()
    {
        multiplier[0] = 1;
        for (int k = 1; k <= numVoices; ++k)
        {
            multiplier[k] = (multiplier[k - 1] * 0x5deece66dULL) & mask;
            increment[k] = (increment[k - 1] * 0x5deece66dULL + 11) & mask;
        }
    }
};

constexpr GeneratorJumps jumps;

// nextFloat's value for a seed the generator has just produced.
inline float unitFloat (std::uint64_t seed) noexcept
{
    const auto result = (float) (std::uint32_t) (seed >> 16) / 4294967296.0f;
    return juce::jmin (result, 1.0f - std::numeric_limits<float>::epsilon());
}

// CHANT draws its noise sample by sample, voice by voice, from the engine's one random sequence,
// exactly as that many calls to random.nextFloat() would: sample s of voice i is drawn while
// s < rendered[i].
inline void draw (juce::Random& random, const int* rendered, int n, float (*noise)[renderChunk][laneWidth]) noexcept
{
    auto seed = (std::uint64_t) random.getSeed();
    auto drawn = false;
    for (int s = 0; s < n; ++s)
    {
        int k = 0;
        for (int i = 0; i < numVoices; ++i)
        {
            if (s < rendered[i])
            {
                ++k;
                noise[i / laneWidth][s][i % laneWidth] = unitFloat ((jumps.multiplier[k] * seed + jumps.increment[k]) & GeneratorJumps::mask);
            }
        }
        if (k > 0)
        {
            seed = (jumps.multiplier[k] * seed + jumps.increment[k]) & GeneratorJumps::mask;
            drawn = true;
        }
    }
    if (drawn)
        random.setSeed ((juce::int64) seed);
}
} // namespace noise

