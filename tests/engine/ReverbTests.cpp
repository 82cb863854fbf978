// Our reverb against JUCE's: the same samples to the bit, mono and stereo, at rates from the lowest
// it runs at to 192 kHz, through parameter glides, freeze mode, clearing and a change of rate; below
// that rate, the dry path alone.
#include <gtest/gtest.h>
#include "engine/StereoReverb.h"

#include <cstring>

namespace
{
struct Change
{
    int atBlock;
    juce::Reverb::Parameters parameters;
};

juce::Reverb::Parameters settings (float room, float damping, float wet, float dry, float width, float freeze = 0.0f)
{
    juce::Reverb::Parameters p;
    p.roomSize = room;
    p.damping = damping;
    p.wetLevel = wet;
    p.dryLevel = dry;
    p.width = width;
    p.freezeMode = freeze;
    return p;
}

bool sameBits (float a, float b)
{
    return std::memcmp (&a, &b, sizeof (float)) == 0;
}
} // namespace

TEST (Reverb, SameSamplesAsJuceReverb)
{
    const std::vector<Change> changes = {
        { 0, settings (0.5f, 0.5f, 0.3f, 0.85f, 1.0f) },
        { 3, settings (1.0f, 0.5f, 1.0f, 0.5f, 1.0f) },
        // Room size alone, then damping alone, while the combs ring: each gain glides by itself.
        { 5, settings (0.6f, 0.5f, 1.0f, 0.5f, 1.0f) },
        { 7, settings (0.6f, 0.9f, 1.0f, 0.5f, 1.0f) },
        { 9, settings (0.2f, 0.3f, 0.6f, 0.7f, 0.4f) },   // while damping still glides
        { 10, settings (0.9f, 0.1f, 0.5f, 0.5f, 1.0f, 1.0f) },   // frozen
        { 13, settings (0.0f, 0.0f, 0.0f, 1.0f, 0.0f) },
    };
    const int sizes[] = { 512, 1, 37, 256, 700, 64 };

    // The reverb runs in stretches no longer than its shortest delay line, so the rates also go low
    // enough for blocks and glides to span many stretches: at 2 kHz the shortest line is 10 samples,
    // at 300 Hz and at the lowest rate one sample.
    for (const auto rate : { 44100.0, 48000.0, 96000.0, 22050.0, 192000.0, 11025.0, 2000.0, 300.0, (double) StereoReverb::lowestRate })
    {
        for (const auto stereo : { true, false })
        {
            SCOPED_TRACE (juce::String (rate) + (stereo ? " stereo" : " mono"));
            juce::Reverb theirs;
            StereoReverb ours;
            theirs.setSampleRate (rate);
            ours.prepare (rate);
            juce::Random random (5);

            for (int block = 0; block < 18; ++block)
            {
                for (const auto& c : changes)
                {
                    if (c.atBlock == block)
                    {
                        theirs.setParameters (c.parameters);
                        ours.setParameters (c.parameters);
                    }
                }
                // Clearing mid-way, as the engine does when it wakes from idle.
                if (block == 15)
                {
                    theirs.setSampleRate (rate);
                    ours.clear();
                }

                const auto n = sizes[block % 6];
                juce::AudioBuffer<float> a (2, n), b (2, n);
                for (int s = 0; s < n; ++s)
                {
                    // Noise in the first blocks, then silence, so the tail runs down into JUCE's floor.
                    const auto x = block < 4 ? random.nextFloat() * 2.0f - 1.0f : 0.0f;
                    for (auto* buffer : { &a, &b })
                    {
                        buffer->setSample (0, s, x);
                        buffer->setSample (1, s, -0.5f * x);
                    }
                }
                if (stereo)
                {
                    theirs.processStereo (a.getWritePointer (0), a.getWritePointer (1), n);
                    ours.processStereo (b.getWritePointer (0), b.getWritePointer (1), n);
                }
                else
                {
                    theirs.processMono (a.getWritePointer (0), n);
                    ours.processMono (b.getWritePointer (0), n);
                }

                for (int ch = 0; ch < (stereo ? 2 : 1); ++ch)
                    for (int s = 0; s < n; ++s)
                        ASSERT_TRUE (sameBits (a.getSample (ch, s), b.getSample (ch, s)))
                            << "block " << block << " channel " << ch << " sample " << s << ": "
                            << a.getSample (ch, s) << " vs " << b.getSample (ch, s);
            }
            EXPECT_EQ (ours.getParameters().roomSize, 0.0f);
        }
    }
}

// A new rate resizes the delay lines, as JUCE's does.
TEST (Reverb, FollowsAChangeOfRate)
{
    juce::Reverb theirs;
    StereoReverb ours;
    const auto p = settings (0.8f, 0.3f, 0.5f, 0.5f, 1.0f);
    theirs.setParameters (p);
    ours.setParameters (p);
    for (const auto rate : { 44100.0, 8000.0, 192000.0 })
    {
        theirs.setSampleRate (rate);
        ours.prepare (rate);
        juce::AudioBuffer<float> a (2, 3000), b (2, 3000);
        a.clear();
        b.clear();
        a.setSample (0, 0, 1.0f);
        b.setSample (0, 0, 1.0f);
        theirs.processStereo (a.getWritePointer (0), a.getWritePointer (1), 3000);
        ours.processStereo (b.getWritePointer (0), b.getWritePointer (1), 3000);
        for (int ch = 0; ch < 2; ++ch)
            for (int s = 0; s < 3000; ++s)
                ASSERT_TRUE (sameBits (a.getSample (ch, s), b.getSample (ch, s))) << rate << " " << ch << " " << s;
    }
}

// Below the lowest rate a delay line would hold nothing: the signal passes with the dry gain's glide
// and nothing rings after it, mono and stereo, also after a change of rate from above.
TEST (Reverb, DryBelowItsLowestRate)
{
    for (const auto rate : { 100.0, 1.0, StereoReverb::lowestRate - 0.5 })
    {
        for (const auto stereo : { true, false })
        {
            SCOPED_TRACE (juce::String (rate) + (stereo ? " stereo" : " mono"));
            StereoReverb ours;
            ours.setParameters (settings (0.8f, 0.5f, 1.0f, 0.5f, 1.0f));   // dry gain 1
            ours.prepare (44100.0);
            ours.prepare (rate);
            ours.setParameters (settings (0.8f, 0.5f, 1.0f, 0.25f, 1.0f));   // gliding to 0.5

            juce::SmoothedValue<float> dry (1.0f);
            dry.reset (rate, 0.01);
            dry.setTargetValue (0.5f);

            juce::AudioBuffer<float> buffer (2, 8);
            buffer.clear();
            buffer.setSample (0, 0, 0.75f);
            buffer.setSample (1, 0, -0.25f);
            if (stereo)
                ours.processStereo (buffer.getWritePointer (0), buffer.getWritePointer (1), 8);
            else
                ours.processMono (buffer.getWritePointer (0), 8);

            const auto gain = dry.getNextValue();
            EXPECT_FLOAT_EQ (buffer.getSample (0, 0), 0.75f * gain);
            EXPECT_FLOAT_EQ (buffer.getSample (1, 0), stereo ? -0.25f * gain : -0.25f);
            for (int ch = 0; ch < 2; ++ch)
                for (int s = 1; s < 8; ++s)
                    EXPECT_EQ (buffer.getSample (ch, s), 0.0f) << ch << " " << s;
        }
    }
}
