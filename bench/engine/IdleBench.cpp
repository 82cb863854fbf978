// CPU per block of an instance whose notes ended 10 s ago, over that of an instance playing 16 held
// notes, at a few block sizes and reverb sizes, and the loudest sample the silent one still puts out.
// Usage: kestrune_idle_bench [seconds timed per row]
#include "core/ParameterTable.h"
#include "engine/Engine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace
{
constexpr double rate = 44100.0;
constexpr int numNotes = 16;
constexpr int firstNote = 52;

double threadSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec + (double) t.tv_nsec * 1.0e-9;
}

juce::MidiBuffer notes (bool on)
{
    juce::MidiBuffer midi;
    for (int n = 0; n < numNotes; ++n)
        midi.addEvent (on ? juce::MidiMessage::noteOn (1, firstNote + 2 * n, (juce::uint8) 100)
                          : juce::MidiMessage::noteOff (1, firstNote + 2 * n), 0);
    return midi;
}

struct Instance
{
    Instance (const SampleBank& bank, float reverbSize, int blockSize) : engine (bank), buffer (2, blockSize)
    {
        parameters.reverbSize = reverbSize;
        engine.prepare (rate, blockSize);
    }

    void render (double seconds, juce::MidiBuffer midi = {})
    {
        for (int b = 0; b < (int) (seconds * rate / buffer.getNumSamples()); ++b)
        {
            engine.process (buffer, midi, parameters, true);
            midi.clear();
        }
    }

    // CPU seconds per block over `seconds`, and the output's peak meanwhile.
    double timePerBlock (double seconds, float& peak)
    {
        const auto blocks = (int) (seconds * rate / buffer.getNumSamples());
        const juce::MidiBuffer none;
        peak = 0.0f;
        double spent = 0.0;
        for (int b = 0; b < blocks; ++b)
        {
            const auto start = threadSeconds();
            engine.process (buffer, none, parameters, true);
            spent += threadSeconds() - start;
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                peak = juce::jmax (peak, buffer.getMagnitude (ch, 0, buffer.getNumSamples()));
        }
        return spent / blocks;
    }

    Engine engine;
    EngineParameters parameters = kestrune::defaultParameters();
    juce::AudioBuffer<float> buffer;
};
} // namespace

int main (int argc, char** argv)
{
    const auto seconds = argc > 1 ? std::atof (argv[1]) : 20.0;
    SampleBank bank;
    loadEmbeddedBank (bank);

    std::printf ("default settings (BAGPIPES, drift 25, reverb mix 30 %%), %d notes; %.0f s timed per row\n", numNotes, seconds);
    std::printf ("%5s %11s %14s %14s %9s %16s\n", "block", "reverb size", "playing us/blk", "idle us/blk", "idle/play", "idle peak dBFS");
    for (auto reverbSize : { 50.0f, 100.0f })
    {
        for (auto blockSize : { 32, 128, 512 })
        {
            Instance playing (bank, reverbSize, blockSize), idle (bank, reverbSize, blockSize);
            playing.render (1.0, notes (true));
            idle.render (1.0, notes (true));
            idle.render (10.0, notes (false));

            float playingPeak = 0.0f, idlePeak = 0.0f;
            const auto play = playing.timePerBlock (seconds, playingPeak);
            const auto rest = idle.timePerBlock (seconds, idlePeak);
            std::printf ("%5d %10.0f%% %14.2f %14.2f %8.1f%% %16.1f\n", blockSize, reverbSize, play * 1.0e6, rest * 1.0e6,
                         100.0 * rest / play, juce::Decibels::gainToDecibels (idlePeak, -999.0f));
            std::fflush (stdout);
        }
    }
    std::printf ("goal: idle/play <= 2 %%\n");
    return 0;
}
