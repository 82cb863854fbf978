// CPU time of the reverb alone, in ns per sample frame (both channels of a stereo frame, or one mono
// sample), at 44.1 kHz with the engine's settings, for blocks of 512 and 32: ours and JUCE's, with the
// parameters steady (as the engine mostly runs) and with a glide running in every block.
// Usage: kestrune_reverb_bench [seconds per run]

#include "engine/StereoReverb.h"
#include "Measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{
constexpr double rate = 44100.0;

juce::Reverb::Parameters engineSettings (float size)
{
    juce::Reverb::Parameters p;
    p.roomSize = size;
    p.damping = 0.5f;
    p.wetLevel = 0.25f;
    p.dryLevel = 1.0f - 0.25f * 0.5f;
    p.width = 1.0f;
    return p;
}

// Both reverbs through the same calls, so one loop times either.
struct Juce : juce::Reverb
{
    void prepare (double r) { setSampleRate (r); }
};

template <typename Reverb>
double nsPerFrame (double seconds, int blockSize, bool stereo, bool gliding)
{
    Reverb reverb;
    reverb.prepare (rate);
    reverb.setParameters (engineSettings (0.6f));

    // The block is refilled from noise each time, so the level stays that of a played signal.
    juce::AudioBuffer<float> noise (2, blockSize), work (2, blockSize);
    juce::Random random (1);
    for (int ch = 0; ch < 2; ++ch)
        for (int s = 0; s < blockSize; ++s)
            noise.setSample (ch, s, 0.3f * (random.nextFloat() * 2.0f - 1.0f));

    const auto blocks = (int) (seconds * rate / blockSize);
    const auto start = bench::threadSeconds();
    for (int b = 0; b < blocks; ++b)
    {
        if (gliding)
            reverb.setParameters (engineSettings ((b & 1) != 0 ? 0.6f : 0.8f));
        work.makeCopyOf (noise, true);
        if (stereo)
            reverb.processStereo (work.getWritePointer (0), work.getWritePointer (1), blockSize);
        else
            reverb.processMono (work.getWritePointer (0), blockSize);
    }
    return (bench::threadSeconds() - start) * 1.0e9 / ((double) blocks * blockSize);
}

// The least of five runs: the machine is shared, and other work only ever adds time.
template <typename Run>
double least (Run run)
{
    auto best = run();
    for (int i = 1; i < 5; ++i)
        best = std::min (best, run());
    return best;
}
} // namespace

int main (int argc, char** argv)
{
    const auto seconds = argc > 1 ? std::atof (argv[1]) : 5.0;
    std::printf ("reverb ns per sample frame at %.0f Hz (least of five runs of %.1f s)\n", rate, seconds);
    std::printf ("%-7s %-8s %5s %8s %8s %7s\n", "", "params", "block", "ours", "JUCE", "JUCE/us");
    for (const auto stereo : { true, false })
        for (const auto gliding : { false, true })
            for (const auto block : { 512, 32 })
            {
                const auto ours = least ([&] { return nsPerFrame<StereoReverb> (seconds, block, stereo, gliding); });
                const auto theirs = least ([&] { return nsPerFrame<Juce> (seconds, block, stereo, gliding); });
                std::printf ("%-7s %-8s %5d %8.2f %8.2f %6.2fx\n", stereo ? "stereo" : "mono", gliding ? "gliding" : "steady",
                             block, ours, theirs, theirs / ours);
                std::fflush (stdout);
            }
    return 0;
}
