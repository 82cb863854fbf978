// CPU per block of an instance whose notes ended 10 s ago, over that of an instance playing 16 held
// notes, at a few block sizes and reverb sizes; the loudest sample the silent one still puts out, and
// how many seconds after the notes ended it went idle (the reverb's tail and one second below -96 dBFS).
// Usage: kestrune_idle_bench [seconds timed per row]
#include "core/ParameterTable.h"
#include "engine/SoundEngine.h"
#include "Measure.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace
{
constexpr double rate = 44100.0;
constexpr int numNotes = 16;
constexpr int firstNote = 52;

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

    // Renders `seconds`; returns when, in seconds from the start, the engine went idle (-1: it did not).
    double render (double seconds, juce::MidiBuffer midi = {})
    {
        double wentIdle = -1.0;
        for (int b = 0; b < (int) (seconds * rate / buffer.getNumSamples()); ++b)
        {
            engine.process (buffer, midi, parameters, true);
            midi.clear();
            if (wentIdle < 0.0 && engine.isIdle())
                wentIdle = (b + 1) * buffer.getNumSamples() / rate;
        }
        return wentIdle;
    }

    // CPU seconds per block over `seconds` (timed as one span: reading the clock costs more than an
    // idle block), then the output's peak over one more second.
    double timePerBlock (double seconds, float& peak)
    {
        const auto blocks = (int) (seconds * rate / buffer.getNumSamples());
        const juce::MidiBuffer none;
        const auto start = bench::threadSeconds();
        for (int b = 0; b < blocks; ++b)
            engine.process (buffer, none, parameters, true);
        const auto spent = bench::threadSeconds() - start;

        peak = 0.0f;
        for (int b = 0; b < (int) (rate / buffer.getNumSamples()); ++b)
        {
            engine.process (buffer, none, parameters, true);
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
    std::printf ("%5s %11s %14s %14s %9s %16s %13s\n", "block", "reverb size", "playing us/blk", "idle us/blk", "idle/play",
                 "idle peak dBFS", "idle after s");
    for (auto reverbSize : { 50.0f, 100.0f })
    {
        for (auto blockSize : { 32, 128, 512 })
        {
            Instance playing (bank, reverbSize, blockSize), idle (bank, reverbSize, blockSize);
            playing.render (1.0, notes (true));
            idle.render (1.0, notes (true));
            const auto wentIdle = idle.render (10.0, notes (false));

            float playingPeak = 0.0f, idlePeak = 0.0f;
            const auto play = playing.timePerBlock (seconds, playingPeak);
            const auto rest = idle.timePerBlock (seconds, idlePeak);
            std::printf ("%5d %10.0f%% %14.2f %14.2f %8.1f%% %16.1f", blockSize, reverbSize, play * 1.0e6, rest * 1.0e6,
                         100.0 * rest / play, juce::Decibels::gainToDecibels (idlePeak, -999.0f));
            if (wentIdle >= 0.0)
                std::printf (" %13.1f\n", wentIdle);
            else
                std::printf (" %13s\n", "not by 10");
            std::fflush (stdout);
        }
    }
    std::printf ("goal: idle/play <= 2 %%\n");
    return 0;
}
