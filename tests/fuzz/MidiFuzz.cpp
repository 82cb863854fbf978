// Blocks of random MIDI at random rates (8 to 384 kHz) and sizes (0 to 8192 samples): notes on
// every channel, floods of up to 10,000 events, controllers the engine reads and ones it ignores,
// system exclusive and malformed bytes, events outside the block, parameter changes and instrument
// switches between blocks. Every output sample must be a finite number.
#include "Fuzz.h"

#include "core/ParameterTable.h"
#include "core/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fuzz
{
namespace
{
constexpr double commonRates[] = { 8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000 };
constexpr int maxBlock = 8192;

int blockSize (Rng& rng, int prepared)
{
    const int choice = rng.below (20);
    if (choice == 0) return 0;
    if (choice == 1) return 1;
    if (choice == 2) return prepared;
    // Spread evenly over the octaves: small blocks are as common in hosts as large ones.
    return juce::jlimit (1, prepared, (int) std::exp (rng.unit() * std::log ((double) prepared + 1.0)));
}

int eventCount (Rng& rng)
{
    // Floods are rare: filling a MidiBuffer event by event costs the square of its size.
    const int choice = rng.below (1000);
    if (choice < 500) return rng.below (5);
    if (choice < 850) return rng.between (5, 64);
    if (choice < 995) return rng.between (65, 1000);
    return rng.between (1000, 10000);
}

void addEvent (Rng& rng, juce::MidiBuffer& midi, int numSamples)
{
    const int position = rng.chance (95) ? rng.below (juce::jmax (1, numSamples)) : rng.between (-64, numSamples + 4096);
    const int channel = rng.between (1, 16);
    switch (rng.below (16))
    {
        case 0: case 1: case 2: case 3: case 4:
            midi.addEvent (juce::MidiMessage::noteOn (channel, rng.below (128), (juce::uint8) rng.below (128)), position); break;
        case 5: case 6: case 7:
            midi.addEvent (juce::MidiMessage::noteOff (channel, rng.below (128), (juce::uint8) rng.below (128)), position); break;
        case 8: case 9:
            midi.addEvent (juce::MidiMessage::controllerEvent (channel, 1, rng.below (128)), position); break;
        case 10:
            midi.addEvent (juce::MidiMessage::controllerEvent (channel, rng.chance (50) ? 120 : 123, 0), position); break;
        case 11:
            midi.addEvent (juce::MidiMessage::controllerEvent (channel, rng.below (128), rng.below (128)), position); break;
        case 12:
            midi.addEvent (juce::MidiMessage::pitchWheel (channel, rng.below (16384)), position); break;
        case 13:
        {
            juce::uint8 bytes[3] = { (juce::uint8) (0xa0 + rng.below (96)), (juce::uint8) rng.below (256), (juce::uint8) rng.below (256) };
            midi.addEvent (bytes, 1 + rng.below (3), position); break;
        }
        case 14:
        {
            juce::uint8 bytes[300];
            const int size = rng.between (1, (int) sizeof (bytes));
            for (int i = 0; i < size; ++i)
                bytes[i] = (juce::uint8) rng.below (128);
            midi.addEvent (juce::MidiMessage::createSysExMessage (bytes, size), position); break;
        }
        default:
        {
            juce::uint8 bytes[4];
            for (auto& b : bytes)
                b = (juce::uint8) rng.below (256);
            midi.addEvent (bytes, 1 + rng.below (4), position); break;
        }
    }
}

void changeParameters (Rng& rng, KestruneProcessor& processor)
{
    const int changes = rng.between (1, 3);
    for (int i = 0; i < changes; ++i)
    {
        const auto& spec = kestrune::parameterTable[rng.below (kestrune::numParameters)];
        auto* parameter = processor.parameters.getParameter (spec.id);
        const float edges[] = { 0.0f, 1.0f, 0.5f };
        parameter->setValueNotifyingHost (rng.chance (20) ? edges[rng.below (3)] : (float) rng.unit());
    }
}
} // namespace

Figures runMidiFuzzer (const Options& options)
{
    KestruneProcessor processor;
    Rng rng { options.seed };
    juce::AudioBuffer<float> buffer (2, maxBlock);
    juce::MidiBuffer midi;
    midi.ensureSize (10000 * 320);
    Figures figures;

    double rate = 44100.0;
    int prepared = maxBlock;
    std::int64_t segmentEnd = 0, samples = 0, events = 0, rateChanges = 0;
    float peak = 0.0f;

    const auto start = juce::Time::getMillisecondCounterHiRes();
    const auto elapsed = [&] { return (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0; };

    while (figures.findings == 0 && (options.blocks == 0 || figures.blocks < options.blocks) && elapsed() < options.seconds)
    {
        if (figures.blocks == segmentEnd)
        {
            rate = rng.chance (70) ? commonRates[rng.below ((int) std::size (commonRates))] : 8000.0 + rng.unit() * 376000.0;
            prepared = rng.chance (60) ? maxBlock : rng.between (1, maxBlock);
            processor.releaseResources();
            processor.prepareToPlay (rate, prepared);
            segmentEnd += rng.between (20, 400);
            ++rateChanges;
        }

        const int numSamples = blockSize (rng, prepared);
        buffer.setSize (2, numSamples, false, false, true);
        for (int ch = 0; ch < 2; ++ch)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 1.0e30f, numSamples);   // must be overwritten

        midi.clear();
        const int count = eventCount (rng);
        for (int i = 0; i < count; ++i)
            addEvent (rng, midi, numSamples);
        events += midi.getNumEvents();

        if (rng.chance (20))
            changeParameters (rng, processor);

        setCurrentInput (midi.data.begin(), (size_t) midi.data.size());
        blockStarted();
        const auto cpuStart = threadCpuMs();
        processor.processBlock (buffer, midi);
        figures.slowestBlockMs = std::max (figures.slowestBlockMs, threadCpuMs() - cpuStart);
        blockFinished();
        setCurrentInput (nullptr, 0);

        for (int ch = 0; ch < 2; ++ch)
        {
            const auto* data = buffer.getReadPointer (ch);
            for (int i = 0; i < numSamples; ++i)
            {
                if (! std::isfinite (data[i]) || std::abs (data[i]) > 1.0e6f)
                {
                    ++figures.findings;
                    std::fprintf (stderr, "fuzz midi: block %lld (seed %llu) at %.0f Hz, %d samples: sample %d of channel %d is %g\n",
                                  (long long) figures.blocks, (unsigned long long) options.seed, rate, numSamples, i, ch, (double) data[i]);
                    break;
                }
                peak = std::max (peak, std::abs (data[i]));
            }
        }

        ++figures.blocks;
        samples += numSamples;
    }

    figures.seconds = elapsed();
    std::printf ("  %lld samples, %lld events, %lld rate changes, output peak %.3f\n",
                 (long long) samples, (long long) events, (long long) rateChanges, (double) peak);
    return figures;
}
} // namespace fuzz
