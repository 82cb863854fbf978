// Time per block of the plug-in with an editor's keyboard attached, which merges the host's events
// with the keyboard's on the audio thread: the same note-ons all at one sample and spread over the
// block, at several flood sizes. A merge that costs the square of a block's events shows as a time
// per event growing with the count. Usage: kestrune_keyboard_merge_bench [blocks]
#include "core/MidiAppend.h"
#include "core/PluginProcessor.h"
#include "Measure.h"

#include <juce_events/juce_events.h>

#include <cstdio>
#include <cstdlib>

namespace
{
juce::MidiBuffer flood (int events, int blockSize, bool oneSample)
{
    // Appended in time order, so that building the flood is quick too.
    juce::MidiBuffer midi;
    for (int i = 0; i < events; ++i)
    {
        const auto note = juce::MidiMessage::noteOn (1 + i % 16, i % 128, (juce::uint8) 100);
        const auto time = oneSample ? 0 : (int) ((juce::int64) i * blockSize / events);
        kestrune::appendInOrder (midi, time, note.getRawData(), note.getRawDataSize());
    }
    return midi;
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto blocks = juce::jmax (1, argc > 1 ? std::atoi (argv[1]) : 20);
    constexpr int blockSize = 512;

    KestruneProcessor processor;
    processor.prepareToPlay (48000.0, blockSize);
    juce::MidiKeyboardState keyboard;
    processor.setEditorKeyboardState (&keyboard);
    juce::AudioBuffer<float> audio (2, blockSize);

    std::printf ("%8s  %-11s  %12s  %14s\n", "events", "placement", "ms per block", "ns per event");
    for (const auto events : { 1000, 4000, 16000 })
        for (const auto oneSample : { true, false })
        {
            const auto input = flood (events, blockSize, oneSample);
            auto seconds = 0.0;
            for (int b = 0; b < blocks; ++b)
            {
                auto midi = input;
                const auto start = bench::threadSeconds();
                processor.processBlock (audio, midi);
                seconds += bench::threadSeconds() - start;
            }
            std::printf ("%8d  %-11s  %12.3f  %14.1f\n", events, oneSample ? "one sample" : "spread", seconds * 1.0e3 / blocks,
                         seconds * 1.0e9 / blocks / events);
        }

    processor.setEditorKeyboardState (nullptr);
    return 0;
}
