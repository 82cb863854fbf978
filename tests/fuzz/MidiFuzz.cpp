// Blocks of random MIDI at random rates (8 to 384 kHz) and sizes (0 to 8192 samples): notes on
// every channel, floods of up to 10,000 events, controllers the engine reads and ones it ignores,
// system exclusive and malformed bytes, MIDI tuning messages whole and damaged, events outside the
// block, parameter changes and instrument switches between blocks; and now and then a whole
// Standard MIDI File through the host program's reader and its way of handing a file's events to the
// plug-in. Every output sample must be a finite number, and every key's tuning silent or playable.
#include "Fuzz.h"

#include "MidiFileReader.h"
#include "core/MidiAppend.h"
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

// A MIDI tuning message in one of its forms, mostly well formed (the length and checksum its form
// asks for, any pitch, "no change" among them, any bank and program), for any device or none of ours;
// sometimes of an unknown form, cut short, with a flipped bit or a wrong checksum.
std::vector<juce::uint8> tuningMessage (Rng& rng)
{
    std::vector<juce::uint8> m { 0xf0, (juce::uint8) (rng.chance (50) ? 0x7e : 0x7f),
                                 (juce::uint8) (rng.chance (90) ? 0x7f : rng.below (128)), 0x08 };
    const int form = rng.chance (97) ? rng.below (10) : rng.below (128);
    m.push_back ((juce::uint8) form);

    const auto data = [&] (int count) {
        for (int i = 0; i < count; ++i)
            m.push_back ((juce::uint8) rng.below (128));
    };
    const auto pitches = [&] (int count, bool withKeys) {
        for (int i = 0; i < count; ++i)
        {
            if (withKeys)
                data (1);
            if (rng.chance (5))
                m.insert (m.end(), { 0x7f, 0x7f, 0x7f });
            else
                data (3);
        }
    };
    const auto notes = [&] {
        const int count = rng.chance (95) ? rng.between (1, 127) : 0;
        m.push_back ((juce::uint8) count);
        pitches (count, true);
    };

    auto checksummed = false;
    switch (form)
    {
        case 0: data (1); break;
        case 3: data (2); break;
        case 1: data (17); pitches (128, false); checksummed = true; break;
        case 4: data (18); pitches (128, false); checksummed = true; break;
        case 2: data (1); notes(); break;
        case 7: data (2); notes(); break;
        case 5: data (2 + 16 + 12); checksummed = true; break;
        case 6: data (2 + 16 + 24); checksummed = true; break;
        case 8: data (3 + 12); break;
        case 9: data (3 + 24); break;
        default: data (rng.below (40)); break;
    }
    if (checksummed)
    {
        juce::uint8 sum = 0;
        for (size_t i = 1; i < m.size(); ++i)
            sum ^= m[i];
        m.push_back ((juce::uint8) ((sum & 0x7f) ^ (rng.chance (5) ? 1 : 0)));
    }
    m.push_back (0xf7);

    if (rng.chance (5))
        m.resize ((size_t) rng.between (1, (int) m.size()));
    if (rng.chance (5))
        m[(size_t) rng.between (1, (int) m.size() - 1)] ^= (juce::uint8) (1 << rng.below (8));
    return m;
}

void addEvent (Rng& rng, juce::MidiBuffer& midi, int numSamples)
{
    const int position = rng.chance (95) ? rng.below (juce::jmax (1, numSamples)) : rng.between (-64, numSamples + 4096);
    const int channel = rng.between (1, 16);
    switch (rng.below (18))
    {
        case 16: case 17:
        {
            const auto message = tuningMessage (rng);
            midi.addEvent (message.data(), (int) message.size(), position); break;
        }
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

void variableLength (std::vector<juce::uint8>& out, juce::uint32 value)
{
    juce::uint8 groups[4];
    int n = 0;
    do
        groups[n++] = (juce::uint8) (value & 0x7f);
    while ((value >>= 7) != 0 && n < 4);
    while (--n >= 0)
        out.push_back ((juce::uint8) (groups[n] | (n > 0 ? 0x80 : 0)));
}

void bigEndian (std::vector<juce::uint8>& out, juce::uint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back ((juce::uint8) (value >> (8 * i)));
}

// A Standard MIDI File as a user might hand the host program one: mostly well formed, with
// running status, tempo changes (0 among them), system exclusive, gaps of hours, floods at one
// tick, a division of any kind; sometimes with a wrong header, a cut end or flipped bytes.
std::vector<juce::uint8> midiFile (Rng& rng)
{
    std::vector<juce::uint8> file { 'M', 'T', 'h', 'd', 0, 0, 0, 6 };
    const int tracks = rng.between (1, 3);
    bigEndian (file, (juce::uint32) (rng.chance (95) ? rng.below (3) : rng.below (65536)), 2);
    bigEndian (file, (juce::uint32) (rng.chance (95) ? tracks : rng.below (5)), 2);
    const juce::uint32 divisions[] = { 96, 480, 960, 1, 0, 0xe728, 0xe700, 0xe250, 0x8000 + (juce::uint32) rng.below (0x8000) };
    bigEndian (file, rng.chance (80) ? divisions[rng.below (3)] : divisions[rng.below ((int) std::size (divisions))], 2);

    for (int t = 0; t < tracks; ++t)
    {
        std::vector<juce::uint8> track;
        const int events = rng.chance (5) ? rng.between (1000, 20000) : rng.below (200);
        for (int i = 0; i < events; ++i)
        {
            const int gap = rng.below (100);
            variableLength (track, gap < 60 ? 0u : gap < 97 ? (juce::uint32) rng.below (2000) : (juce::uint32) rng.next() & 0x0fffffffu);
            switch (rng.below (12))
            {
                case 0:   // tempo
                {
                    const juce::uint32 tempo = rng.chance (3) ? 0u : (juce::uint32) rng.between (1, 0xffffff);
                    track.insert (track.end(), { 0xff, 0x51, 0x03 });
                    bigEndian (track, tempo, 3);
                    break;
                }
                case 1:   // system exclusive
                {
                    const int length = rng.below (40);
                    track.push_back (rng.chance (80) ? 0xf0 : 0xf7);
                    variableLength (track, (juce::uint32) length);
                    for (int b = 0; b < length; ++b)
                        track.push_back ((juce::uint8) (b == length - 1 ? 0xf7 : rng.below (128)));
                    break;
                }
                case 2:   // running status: data bytes only
                    track.insert (track.end(), { (juce::uint8) rng.below (128), (juce::uint8) rng.below (128) });
                    break;
                case 3:
                    track.push_back ((juce::uint8) rng.below (256));
                    break;
                default:  // note on or off, controller
                {
                    const juce::uint8 kinds[] = { 0x90, 0x80, 0xb0 };
                    track.insert (track.end(), { (juce::uint8) (kinds[rng.below (3)] | rng.below (16)),
                                                 (juce::uint8) rng.below (128), (juce::uint8) rng.below (128) });
                }
            }
        }
        if (rng.chance (90))
            track.insert (track.end(), { 0x00, 0xff, 0x2f, 0x00 });

        file.insert (file.end(), { 'M', 'T', 'r', 'k' });
        bigEndian (file, rng.chance (97) ? (juce::uint32) track.size() : (juce::uint32) rng.next(), 4);
        file.insert (file.end(), track.begin(), track.end());
    }

    if (rng.chance (5))
        file.resize ((size_t) rng.below ((int) file.size() + 1));
    if (rng.chance (5))
        for (int i = rng.between (1, 8); i > 0 && ! file.empty(); --i)
            file[(size_t) rng.below ((int) file.size())] ^= (juce::uint8) (1 << rng.below (8));

    return file;
}

// The host program's path from a file to the plug-in: its reader, then each block's events gathered
// in time order and appended in one pass, at 64-bit frame positions (a file's last events may lie
// hours in). Renders the blocks that hold events, at most 32 of them. False when a sample is not a
// finite number.
bool renderThroughHostReader (const std::vector<juce::uint8>& bytes, KestruneProcessor& processor,
                              juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    std::vector<juce::MidiMessage> events;
    try
    {
        events = host::readMidiFileAsWritten (juce::MemoryBlock (bytes.data(), bytes.size()), "fuzz.mid");
    }
    catch (const host::HostError&)
    {
        return true;   // refused with a message, as it should be
    }

    constexpr double rate = 48000.0;
    constexpr int block = 512;
    buffer.setSize (2, block, false, false, true);
    size_t next = 0;

    for (int rendered = 0; rendered < 32 && next < events.size(); ++rendered)
    {
        const auto frameOf = [&] (size_t i) { return (juce::int64) std::llround (events[i].getTimeStamp() * rate); };
        const auto start = frameOf (next) - frameOf (next) % block;
        midi.clear();
        for (; next < events.size() && frameOf (next) < start + block; ++next)
            if (! events[next].isMetaEvent())
                kestrune::appendInOrder (midi, (int) (frameOf (next) - start), events[next].getRawData(), events[next].getRawDataSize());

        buffer.clear();
        processor.processBlock (buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < block; ++i)
                if (! std::isfinite (buffer.getSample (ch, i)))
                    return false;
    }
    return true;
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
    std::int64_t segmentEnd = 0, samples = 0, events = 0, rateChanges = 0, files = 0;
    KestruneProcessor fileProcessor;
    fileProcessor.prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> fileBuffer (2, 512);
    float peak = 0.0f;

    const auto start = juce::Time::getMillisecondCounterHiRes();
    const auto elapsed = [&] { return (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0; };

    // A count of blocks is a count for each door: once the processor has had its blocks, whole files
    // follow until the host's reader has had as many.
    const auto counted = options.blocks > 0;
    while (figures.findings == 0 && (! counted || figures.blocks < options.blocks || files < options.blocks)
           && elapsed() < options.seconds)
    {
        reportProgress ("midi", std::min (figures.blocks, files), elapsed());
        const bool blocksDone = counted && figures.blocks >= options.blocks;
        if (! blocksDone)
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

            // Whatever tuning messages came, every key is silent or inside what a voice can play.
            const auto tuning = processor.getEngine().getTuning();
            for (int key = 0; key < tuning::numKeys && figures.findings == 0; ++key)
            {
                const auto hz = tuning.frequency[(size_t) key];
                if (! (hz >= 0.0 && hz <= tuning::highestFrequency) || (hz > 0.0 && hz < tuning::lowestFrequency)
                    || ! std::isfinite (tuning.pitch[(size_t) key]))
                {
                    ++figures.findings;
                    std::fprintf (stderr, "fuzz midi: block %lld (seed %llu): key %d tuned to %g Hz\n",
                                  (long long) figures.blocks, (unsigned long long) options.seed, key, hz);
                }
            }

            ++figures.blocks;
            samples += numSamples;
        }

        // Now and then a whole file through the host program's reader instead.
        if (figures.findings == 0 && (blocksDone || rng.chance (4)))
        {
            const auto file = midiFile (rng);
            setCurrentInput (file.data(), file.size());
            blockStarted();
            const auto cpuStart = threadCpuMs();
            const auto finite = renderThroughHostReader (file, fileProcessor, fileBuffer, midi);
            const auto cpu = threadCpuMs() - cpuStart;
            blockFinished();
            setCurrentInput (nullptr, 0);
            ++files;

            if (! finite || cpu > 2000.0)
            {
                ++figures.findings;
                std::fprintf (stderr, "fuzz midi: file %lld (seed %llu): %s\n", (long long) files, (unsigned long long) options.seed,
                              finite ? "the reader and render took more than 2 s of CPU time" : "a sample is not a finite number");
            }
        }
    }

    figures.seconds = elapsed();
    std::printf ("  %lld samples, %lld events, %lld rate changes, output peak %.3f, %lld files through the host's reader\n",
                 (long long) samples, (long long) events, (long long) rateChanges, (double) peak, (long long) files);
    return figures;
}
} // namespace fuzz
