#pragma once

#include "engine/FourWide.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

// JUCE's reverb (juce::Reverb: per channel eight parallel combs and four all-passes in series, its
// tunings, gains and 10 ms parameter glides), computed with the same float operations in the same
// order, so its output is the same to the bit.
//
// It runs in stretches no longer than its shortest delay line: within one, every delay line read
// was written before the stretch began, so each stage can run over the whole stretch at once. The
// all-passes and the gains then have no dependency from sample to sample and go four samples at a
// time; the combs keep only their one-pole recurrence, which runs with four combs in the lanes of
// one vector and all groups of four side by side.
//
// Below lowestRate its shortest delay line would hold no sample at all; there it adds no reverb and
// passes the dry signal with its (gliding) dry gain, so the level stays that of the reverb's dry path.
class StereoReverb
{
public:
    // The last all-pass, 225 samples at 44.1 kHz, gets its first sample at this rate.
    static constexpr int lowestRate = 44100 / 225;

    StereoReverb() { setParameters ({}); prepare (44100.0); }

    // Sizes the delay lines for the rate (allocating only when a size changes), clears them and
    // brings the smoothed gains to their targets.
    void prepare (double sampleRate);

    // Clears the delay lines and brings the smoothed gains to their targets, as after prepare at the
    // same rate; allocates nothing.
    void clear() noexcept;

    void setParameters (const juce::Reverb::Parameters&) noexcept;
    const juce::Reverb::Parameters& getParameters() const noexcept { return parameters; }

    void processStereo (float* left, float* right, int numSamples) noexcept;
    void processMono (float* samples, int numSamples) noexcept;

private:
    struct Comb
    {
        std::vector<float> buffer;
        int index = 0;
        float last = 0.0f;
    };

    struct AllPass
    {
        std::vector<float> buffer;
        int index = 0;
    };

    static constexpr int numCombs = 8, numAllPasses = 4;

    // The longest stretch processed at once: long enough to pay for the set-up of a stretch, short
    // enough that the scratch below stays in the first-level cache.
    static constexpr int maxRun = 128;

    using Floats = fourwide::Floats;

    template <int numChannels>
    void processInRuns (float* const* channels, int numSamples) noexcept;
    template <int numChannels>
    void processRun (float* const* channels, int offset, int numSamples) noexcept;
    template <int numChannels>
    void processDry (float* const* channels, int numSamples) noexcept;

    juce::Reverb::Parameters parameters;
    float gain = 0.015f;
    Comb comb[2][numCombs];
    AllPass allPass[2][numAllPasses];
    juce::SmoothedValue<float> damping, feedback, dryGain, wetGain1, wetGain2;
    double rate = 44100.0;

    // Shortest delay line of the left channel alone (mono) and of both (stereo); at least one sample
    // from lowestRate up.
    int shortestLine[2] = {};

    // Scratch for one stretch: the per-sample gains, the comb input, each channel's comb sum (then
    // all-pass output), and the combs' samples four combs to a vector (lane = comb, one vector per sample).
    struct Scratch
    {
        alignas (16) float input[maxRun], damp[maxRun], feedback[maxRun], dry[maxRun], wet1[maxRun], wet2[maxRun];
        alignas (16) float sum[2][maxRun];
        Floats combLanes[2 * numCombs / 4][maxRun];
    };
    Scratch scratch;
};
