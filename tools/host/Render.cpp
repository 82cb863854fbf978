#include "Commands.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <iostream>
#include <unistd.h>

namespace host
{
namespace
{
juce::MidiMessageSequence readMidiFile (const juce::File& file)
{
    juce::FileInputStream stream (file);
    juce::MidiFile midi;

    if (! stream.openedOk())
        throw HostError { "could not read MIDI file " + file.getFullPathName() };

    if (! midi.readFrom (stream))
        throw HostError { file.getFullPathName() + " is not a Standard MIDI File" };

    // Seconds through the file's own tempo map, then every track on one time line.
    midi.convertTimestampTicksToSeconds();
    juce::MidiMessageSequence merged;

    for (int t = 0; t < midi.getNumTracks(); ++t)
        merged.addSequence (*midi.getTrack (t), 0.0);

    merged.sort();
    return merged;
}

struct Progress
{
    bool enabled = isatty (STDERR_FILENO) != 0;
    int shown = -1;

    void update (juce::int64 done, juce::int64 total)
    {
        if (! enabled || total <= 0)
            return;

        const auto percent = (int) (100 * done / total);

        if (percent == shown)
            return;

        shown = percent;
        const auto filled = percent / 4;
        std::cerr << "\rrendering [" << juce::String::repeatedString ("#", filled)
                  << juce::String::repeatedString (".", 25 - filled) << "] " << percent << "%" << std::flush;

        if (done >= total)
            std::cerr << "\n";
    }
};

struct Levels
{
    float peak = 0.0f;
    double sumOfSquares = 0.0;
    juce::int64 samples = 0, nonFinite = 0;

    void add (const juce::AudioBuffer<float>& buffer, int numChannels, int numFrames)
    {
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const auto* data = buffer.getReadPointer (ch);

            for (int i = 0; i < numFrames; ++i)
            {
                if (! std::isfinite (data[i]))
                {
                    ++nonFinite;
                    continue;
                }

                peak = std::max (peak, std::abs (data[i]));
                sumOfSquares += (double) data[i] * data[i];
            }
        }

        samples += (juce::int64) numChannels * numFrames;
    }

    float rms() const { return samples > 0 ? (float) std::sqrt (sumOfSquares / (double) samples) : 0.0f; }
};
} // namespace

int runRender (const Options& options)
{
    const juce::File midiFile (options.positional[1]), outFile (options.positional[2]);
    const auto sequence = readMidiFile (midiFile);
    const auto rate = options.sampleRate;

    HostSession session (juce::File (options.positional[0]), rate, options.blockSize);
    auto& plugin = *session.instance;

    if (options.stateFile != juce::File())
        session.loadState (options.stateFile);

    session.applySettings (options.settings);

    const auto numOutputs = plugin.getTotalNumOutputChannels();

    if (numOutputs <= 0)
        throw HostError { session.description.name + " has no audio output" };

    const auto tail = options.tailSeconds >= 0.0 ? options.tailSeconds
                                                 : std::max (1.0, plugin.getTailLengthSeconds());
    const auto lastEventTime = sequence.getNumEvents() > 0 ? sequence.getEndTime() : 0.0;
    const auto totalFrames = (juce::int64) std::ceil ((lastEventTime + tail) * rate);

    juce::WavAudioFormat wav;
    outFile.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (outFile);

    if (! stream->openedOk())
        throw HostError { "could not write " + outFile.getFullPathName() };

    const auto bits = options.floatOutput ? 32 : 24;   // JUCE writes 32-bit WAV data as float
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), rate, (unsigned int) numOutputs, bits, {}, 0));

    if (writer == nullptr)
        throw HostError { "cannot write a " + juce::String (bits) + "-bit WAV at " + juce::String (rate) + " Hz" };

    stream.release();   // the writer owns it now

    plugin.setNonRealtime (true);
    plugin.prepareToPlay (rate, options.blockSize);

    juce::AudioBuffer<float> buffer (std::max (plugin.getTotalNumInputChannels(), numOutputs), options.blockSize);
    juce::MidiBuffer midi;
    Levels levels;
    Progress progress;
    int nextEvent = 0, notes = 0;

    for (juce::int64 start = 0; start < totalFrames; start += options.blockSize)
    {
        const auto frames = (int) std::min ((juce::int64) options.blockSize, totalFrames - start);
        buffer.setSize (buffer.getNumChannels(), frames, false, false, true);
        buffer.clear();
        midi.clear();

        for (; nextEvent < sequence.getNumEvents(); ++nextEvent)
        {
            const auto& message = sequence.getEventPointer (nextEvent)->message;
            const auto frame = (juce::int64) std::llround (message.getTimeStamp() * rate);

            if (frame >= start + frames)
                break;

            if (message.isMetaEvent())
                continue;

            notes += message.isNoteOn() ? 1 : 0;
            midi.addEvent (message, (int) std::max ((juce::int64) 0, frame - start));
        }

        plugin.processBlock (buffer, midi);
        levels.add (buffer, numOutputs, frames);
        writer->writeFromAudioSampleBuffer (buffer, 0, frames);
        progress.update (start + frames, totalFrames);
    }

    plugin.releaseResources();
    writer.reset();

    std::cout << "wrote " << outFile.getFullPathName() << ": " << numOutputs << " ch, " << rate << " Hz, "
              << (options.floatOutput ? "32-bit float" : "24-bit") << ", " << totalFrames << " frames ("
              << juce::String ((double) totalFrames / rate, 3) << " s), block " << options.blockSize << "\n"
              << "notes " << notes << ", peak " << decibelText (levels.peak) << ", rms "
              << decibelText (levels.rms()) << ", non-finite samples " << levels.nonFinite << "\n";

    if (levels.nonFinite > 0)
        throw HostError { "the plug-in produced " + juce::String (levels.nonFinite) + " non-finite samples" };

    return exitOk;
}
} // namespace host
