#include "engine/StereoReverb.h"

void StereoReverb::prepare (double sampleRate)
{
    static const short combTunings[] = { 1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617 };   // at 44100 Hz
    static const short allPassTunings[] = { 556, 441, 341, 225 };
    const int stereoSpread = 23;

    rate = sampleRate;
    const auto intRate = (int) sampleRate;
    const auto resize = [] (std::vector<float>& buffer, int& index, int size) {
        if ((int) buffer.size() != size)
        {
            buffer.resize ((size_t) size);
            index = 0;
        }
    };

    for (int i = 0; i < numCombs; ++i)
    {
        resize (comb[0][i].buffer, comb[0][i].index, (intRate * combTunings[i]) / 44100);
        resize (comb[1][i].buffer, comb[1][i].index, (intRate * (combTunings[i] + stereoSpread)) / 44100);
    }
    for (int i = 0; i < numAllPasses; ++i)
    {
        resize (allPass[0][i].buffer, allPass[0][i].index, (intRate * allPassTunings[i]) / 44100);
        resize (allPass[1][i].buffer, allPass[1][i].index, (intRate * (allPassTunings[i] + stereoSpread)) / 44100);
    }
    clear();
}

void StereoReverb::clear() noexcept
{
    for (int ch = 0; ch < 2; ++ch)
    {
        for (auto& c : comb[ch])
        {
            std::fill (c.buffer.begin(), c.buffer.end(), 0.0f);
            c.last = 0.0f;
        }
        for (auto& a : allPass[ch])
            std::fill (a.buffer.begin(), a.buffer.end(), 0.0f);
    }

    const double smoothTime = 0.01;
    for (auto* value : { &damping, &feedback, &dryGain, &wetGain1, &wetGain2 })
        value->reset (rate, smoothTime);
}

void StereoReverb::setParameters (const juce::Reverb::Parameters& newParams) noexcept
{
    const float wetScaleFactor = 3.0f;
    const float dryScaleFactor = 2.0f;

    const float wet = newParams.wetLevel * wetScaleFactor;
    dryGain.setTargetValue (newParams.dryLevel * dryScaleFactor);
    wetGain1.setTargetValue (0.5f * wet * (1.0f + newParams.width));
    wetGain2.setTargetValue (0.5f * wet * (1.0f - newParams.width));

    const auto frozen = newParams.freezeMode >= 0.5f;
    gain = frozen ? 0.0f : 0.015f;
    parameters = newParams;

    damping.setTargetValue (frozen ? 0.0f : parameters.damping * 0.4f);
    feedback.setTargetValue (frozen ? 1.0f : parameters.roomSize * 0.28f + 0.7f);
}

void StereoReverb::processStereo (float* left, float* right, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const float input = (left[i] + right[i]) * gain;
        float outL = 0, outR = 0;

        const float damp = damping.getNextValue();
        const float feedbck = feedback.getNextValue();

        for (int j = 0; j < numCombs; ++j)
        {
            outL += comb[0][j].process (input, damp, feedbck);
            outR += comb[1][j].process (input, damp, feedbck);
        }

        for (int j = 0; j < numAllPasses; ++j)
        {
            outL = allPass[0][j].process (outL);
            outR = allPass[1][j].process (outR);
        }

        const float dry = dryGain.getNextValue();
        const float wet1 = wetGain1.getNextValue();
        const float wet2 = wetGain2.getNextValue();

        left[i] = outL * wet1 + outR * wet2 + left[i] * dry;
        right[i] = outR * wet1 + outL * wet2 + right[i] * dry;
    }
}

void StereoReverb::processMono (float* samples, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const float input = samples[i] * gain;
        float output = 0;

        const float damp = damping.getNextValue();
        const float feedbck = feedback.getNextValue();

        for (int j = 0; j < numCombs; ++j)
            output += comb[0][j].process (input, damp, feedbck);

        for (int j = 0; j < numAllPasses; ++j)
            output = allPass[0][j].process (output);

        const float dry = dryGain.getNextValue();
        const float wet1 = wetGain1.getNextValue();

        samples[i] = output * wet1 + samples[i] * dry;
    }
}
