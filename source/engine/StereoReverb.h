#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

// JUCE's reverb (juce::Reverb: per channel eight parallel combs and four all-passes in series, its
// tunings, gains and 10 ms parameter glides), computed with the same float operations in the same
// order, so its output is the same to the bit. JUCE steps every delay line's index with a division
// (24 of them per sample); here it is a compare, which makes the reverb about twice as fast.
class StereoReverb
{
public:
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

        float process (float input, float damp, float feedbackLevel) noexcept
        {
            const float output = buffer[(size_t) index];
            last = (output * (1.0f - damp)) + (last * damp);
            JUCE_UNDENORMALISE (last);

            float temp = input + (last * feedbackLevel);
            JUCE_UNDENORMALISE (temp);
            buffer[(size_t) index] = temp;
            if (++index == (int) buffer.size())
                index = 0;
            return output;
        }
    };

    struct AllPass
    {
        std::vector<float> buffer;
        int index = 0;

        float process (float input) noexcept
        {
            const float bufferedValue = buffer[(size_t) index];
            float temp = input + (bufferedValue * 0.5f);
            JUCE_UNDENORMALISE (temp);
            buffer[(size_t) index] = temp;
            if (++index == (int) buffer.size())
                index = 0;
            return bufferedValue - input;
        }
    };

    static constexpr int numCombs = 8, numAllPasses = 4;

    juce::Reverb::Parameters parameters;
    float gain = 0.015f;
    Comb comb[2][numCombs];
    AllPass allPass[2][numAllPasses];
    juce::SmoothedValue<float> damping, feedback, dryGain, wetGain1, wetGain2;
    double rate = 44100.0;
};
