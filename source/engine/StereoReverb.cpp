#include "engine/StereoReverb.h"
#include "engine/Lanes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace reverbLanes
{
using lanes::Floats;
using lanes::Ints;
using lanes::load;
using lanes::store;

inline Floats splat (float x) noexcept { return Floats { x, x, x, x }; }

#if defined(__clang__)
 #define KESTRUNE_SHUFFLE(a, b, i, j, k, l) __builtin_shufflevector (a, b, i, j, k, l)
#else
 #define KESTRUNE_SHUFFLE(a, b, i, j, k, l) __builtin_shuffle (a, b, Ints { i, j, k, l })
#endif

// Rows in, columns out: four combs' runs of four samples become four samples of four combs, and back.
inline void transpose (Floats& a, Floats& b, Floats& c, Floats& d) noexcept
{
    const Floats ab01 = KESTRUNE_SHUFFLE (a, b, 0, 4, 1, 5), ab23 = KESTRUNE_SHUFFLE (a, b, 2, 6, 3, 7);
    const Floats cd01 = KESTRUNE_SHUFFLE (c, d, 0, 4, 1, 5), cd23 = KESTRUNE_SHUFFLE (c, d, 2, 6, 3, 7);
    a = KESTRUNE_SHUFFLE (ab01, cd01, 0, 1, 4, 5);
    b = KESTRUNE_SHUFFLE (ab01, cd01, 2, 3, 6, 7);
    c = KESTRUNE_SHUFFLE (ab23, cd23, 0, 1, 4, 5);
    d = KESTRUNE_SHUFFLE (ab23, cd23, 2, 3, 6, 7);
}

// The macro is empty off Intel, and then so is this.
template <typename Value>
inline void undenormalise (Value& x) noexcept
{
    JUCE_UNDENORMALISE (x);
}

// A glide's next values, as that many calls of getNextValue give them.
inline void takeValues (juce::SmoothedValue<float>& value, float* dest, int numSamples) noexcept
{
    if (! value.isSmoothing())
    {
        std::fill (dest, dest + numSamples, value.getTargetValue());
        return;
    }

    // On a local copy, which dest cannot alias, the glide stays in registers.
    auto local = value;
    for (int i = 0; i < numSamples; ++i)
        dest[i] = local.getNextValue();
    value = local;
}

// One all-pass over a run of its delay line that does not wrap; x is its input and becomes its output.
inline void allPassRun (float* buffer, float* x, int numSamples) noexcept
{
    int i = 0;
    for (; i + 4 <= numSamples; i += 4)
    {
        const auto buffered = load (buffer + i), in = load (x + i);
        auto temp = in + buffered * 0.5f;
        undenormalise (temp);
        store (buffer + i, temp);
        store (x + i, buffered - in);
    }
    for (; i < numSamples; ++i)
    {
        const auto buffered = buffer[i], in = x[i];
        auto temp = in + buffered * 0.5f;
        undenormalise (temp);
        buffer[i] = temp;
        x[i] = buffered - in;
    }
}

// The combs' one-pole recurrences over a stretch: lanes[g * stride + i] holds sample i of group g's
// four combs as read, line[g][l] the run of comb l of group g that takes the values written. The
// groups run side by side so that their latencies overlap, and each finished four samples go back
// into the delay lines while the next four are computed. With steady gains every sample has the
// same damping and feedback, and their vectors stay in registers.
template <int numCombGroups, bool steady>
inline void combRecurrences (Floats* lanes, int stride, float* const (*line)[4], Floats* lastInOut, const float* input,
                             const float* damp, const float* feedback, int numSamples) noexcept
{
    Floats last[(size_t) numCombGroups];
    std::copy (lastInOut, lastInOut + numCombGroups, last);
    const auto steadyDamp = splat (damp[0]), steadyUndamped = splat (1.0f - damp[0]), steadyFeedback = splat (feedback[0]);

    const auto writeBack = [lanes, stride, line] (int from) noexcept {
        for (int g = 0; g < numCombGroups; ++g)
        {
            const auto* at = lanes + g * stride + from;
            Floats rows[4] = { at[0], at[1], at[2], at[3] };
            transpose (rows[0], rows[1], rows[2], rows[3]);
            for (int l = 0; l < 4; ++l)
                store (line[g][l] + from, rows[l]);
        }
    };

    for (int i = 0; i < numSamples; ++i)
    {
        const auto d = steady ? steadyDamp : splat (damp[i]);
        const auto undamped = steady ? steadyUndamped : splat (1.0f - damp[i]);
        const auto feedbck = steady ? steadyFeedback : splat (feedback[i]);
        const auto in = splat (input[i]);
        for (int g = 0; g < numCombGroups; ++g)
        {
            auto& lane = lanes[g * stride + i];
            auto l = (lane * undamped) + (last[g] * d);
            undenormalise (l);
            last[g] = l;

            auto temp = in + (l * feedbck);
            undenormalise (temp);
            lane = temp;
        }

        // At the end of each four, the four before it go back, off the recurrences' path.
        if ((i & 3) == 3 && i >= 7)
            writeBack (i - 7);
    }
    std::copy (last, last + numCombGroups, lastInOut);

    // The last whole four, then any samples after them one by one.
    const auto whole = numSamples & ~3;
    if (whole >= 4)
        writeBack (whole - 4);
    for (int i = whole; i < numSamples; ++i)
        for (int g = 0; g < numCombGroups; ++g)
            for (int l = 0; l < 4; ++l)
                line[g][l][i] = lanes[g * stride + i][l];
}
} // namespace reverbLanes

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

    for (int channels = 1; channels <= 2; ++channels)
    {
        auto& shortest = shortestLine[channels - 1];
        shortest = std::numeric_limits<int>::max();
        for (int ch = 0; ch < channels; ++ch)
        {
            for (auto& c : comb[ch])
                shortest = std::min (shortest, (int) c.buffer.size());
            for (auto& a : allPass[ch])
                shortest = std::min (shortest, (int) a.buffer.size());
        }
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
    float* const channels[] = { left, right };
    processInRuns<2> (channels, numSamples);
}

void StereoReverb::processMono (float* samples, int numSamples) noexcept
{
    float* const channels[] = { samples };
    processInRuns<1> (channels, numSamples);
}

template <int numChannels>
void StereoReverb::processInRuns (float* const* channels, int numSamples) noexcept
{
    if (rate < lowestRate)
    {
        processDry<numChannels> (channels, numSamples);
        return;
    }

    const auto shortest = shortestLine[numChannels - 1];

    for (int done = 0; done < numSamples;)
    {
        // A run also ends where a comb's delay line wraps, so that each comb reads and writes one
        // contiguous run; the all-passes take their two parts each.
        auto n = std::min ({ numSamples - done, maxRun, shortest });
        for (int ch = 0; ch < numChannels; ++ch)
            for (auto& c : comb[ch])
                n = std::min (n, (int) c.buffer.size() - c.index);

        processRun<numChannels> (channels, done, n);
        done += n;
    }
}

template <int numChannels>
void StereoReverb::processRun (float* const* channels, int offset, int n) noexcept
{
    constexpr int numCombGroups = numChannels * numCombs / 4;
    auto& [input, damp, feedbackLevel, dry, wet1, wet2, sum, combLanes] = scratch;
    float* const left = channels[0] + offset;
    float* const right = channels[numChannels - 1] + offset;

    for (int i = 0; i < n; ++i)
        input[i] = (numChannels == 2 ? left[i] + right[i] : left[i]) * gain;

    // Outside a glide every value is the target, which the combs can then hold in registers.
    const auto steady = ! damping.isSmoothing() && ! feedback.isSmoothing();
    reverbLanes::takeValues (damping, damp, n);
    reverbLanes::takeValues (feedback, feedbackLevel, n);
    reverbLanes::takeValues (dryGain, dry, n);
    reverbLanes::takeValues (wetGain1, wet1, n);
    if (numChannels == 2)
        reverbLanes::takeValues (wetGain2, wet2, n);

    // Each comb's run of its delay line; group g holds combs 4 (g % 2) to 4 (g % 2) + 3 of channel g / 2.
    float* line[(size_t) numCombGroups][4];
    for (int g = 0; g < numCombGroups; ++g)
        for (int l = 0; l < 4; ++l)
        {
            auto& c = comb[g / 2][4 * (g % 2) + l];
            line[g][l] = c.buffer.data() + c.index;
        }

    Floats last[(size_t) numCombGroups];
    for (int g = 0; g < numCombGroups; ++g)
    {
        const auto* c = comb[g / 2] + 4 * (g % 2);
        last[g] = Floats { c[0].last, c[1].last, c[2].last, c[3].last };
    }

    // What the combs read is what they put out, known before they run: sum it per channel in comb
    // order, and lay it out as samples of four combs.
    int i = 0;
    for (; i + 4 <= n; i += 4)
    {
        for (int ch = 0; ch < numChannels; ++ch)
        {
            Floats rows[2][4];
            auto total = reverbLanes::splat (0.0f);
            for (int h = 0; h < 2; ++h)
                for (int l = 0; l < 4; ++l)
                {
                    rows[h][l] = reverbLanes::load (line[2 * ch + h][l] + i);
                    total += rows[h][l];
                }
            reverbLanes::store (sum[ch] + i, total);

            for (int h = 0; h < 2; ++h)
            {
                reverbLanes::transpose (rows[h][0], rows[h][1], rows[h][2], rows[h][3]);
                for (int t = 0; t < 4; ++t)
                    combLanes[2 * ch + h][i + t] = rows[h][t];
            }
        }
    }
    for (; i < n; ++i)
    {
        for (int ch = 0; ch < numChannels; ++ch)
        {
            float total = 0.0f;
            for (int h = 0; h < 2; ++h)
            {
                const auto* run = line[2 * ch + h];
                combLanes[2 * ch + h][i] = Floats { run[0][i], run[1][i], run[2][i], run[3][i] };
                for (int l = 0; l < 4; ++l)
                    total += run[l][i];
            }
            sum[ch][i] = total;
        }
    }

    // The recurrences, which also put the combs' new values into their delay lines.
    if (steady)
        reverbLanes::combRecurrences<numCombGroups, true> (combLanes[0], maxRun, line, last, input, damp, feedbackLevel, n);
    else
        reverbLanes::combRecurrences<numCombGroups, false> (combLanes[0], maxRun, line, last, input, damp, feedbackLevel, n);

    for (int g = 0; g < numCombGroups; ++g)
    {
        auto* c = comb[g / 2] + 4 * (g % 2);
        for (int l = 0; l < 4; ++l)
            c[l].last = last[g][l];
    }

    for (int ch = 0; ch < numChannels; ++ch)
    {
        for (auto& c : comb[ch])
            if ((c.index += n) == (int) c.buffer.size())
                c.index = 0;

        for (auto& a : allPass[ch])
        {
            const auto size = (int) a.buffer.size();
            const auto first = std::min (n, size - a.index);
            reverbLanes::allPassRun (a.buffer.data() + a.index, sum[ch], first);
            reverbLanes::allPassRun (a.buffer.data(), sum[ch] + first, n - first);
            a.index += n;
            if (a.index >= size)
                a.index -= size;
        }
    }

    const auto* outL = sum[0];
    const auto* outR = sum[numChannels - 1];
    i = 0;
    for (; i + 4 <= n; i += 4)
    {
        const auto l = reverbLanes::load (outL + i), w1 = reverbLanes::load (wet1 + i), d = reverbLanes::load (dry + i);
        if (numChannels == 2)
        {
            const auto r = reverbLanes::load (outR + i), w2 = reverbLanes::load (wet2 + i);
            reverbLanes::store (left + i, l * w1 + r * w2 + reverbLanes::load (left + i) * d);
            reverbLanes::store (right + i, r * w1 + l * w2 + reverbLanes::load (right + i) * d);
        }
        else
        {
            reverbLanes::store (left + i, l * w1 + reverbLanes::load (left + i) * d);
        }
    }
    for (; i < n; ++i)
    {
        if (numChannels == 2)
        {
            const auto l = outL[i], r = outR[i];
            left[i] = l * wet1[i] + r * wet2[i] + left[i] * dry[i];
            right[i] = r * wet1[i] + l * wet2[i] + right[i] * dry[i];
        }
        else
        {
            left[i] = outL[i] * wet1[i] + left[i] * dry[i];
        }
    }
}

// Only the dry gain is heard; prepare brings the others to their targets before the reverb runs again.
template <int numChannels>
void StereoReverb::processDry (float* const* channels, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const auto dry = dryGain.getNextValue();
        for (int ch = 0; ch < numChannels; ++ch)
            channels[ch][i] *= dry;
    }
}
