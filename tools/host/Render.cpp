#include "Commands.h"
#include "MidiFileReader.h"
#include "OutputFile.h"
#include "core/MidiAppend.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace host
{
namespace
{
constexpr double quietLevel = 1.0e-5;           // -100 dBFS
constexpr double quietSeconds = 0.2;           // a default render ends after this long below quietLevel...
constexpr double longestTailSeconds = 30.0;    // ... or this long after the last event
constexpr double longestRenderSeconds = 24.0 * 3600.0;
constexpr juce::int64 maxLaneFileBytes = 4 * 1024 * 1024;   // some hundred thousand points

// A parameter change at a frame, applied before the block that holds the frame, as a host applies
// its automation.
struct AutomationPoint
{
    juce::int64 frame;
    juce::AudioProcessorParameter* parameter;
    float value;
    juce::String source;   // where it was given, for messages
};

// "1.5" is seconds, "72000s" samples.
juce::int64 frameForTime (const juce::String& text, double rate, const juce::String& source)
{
    const auto t = text.trim();

    if (t.endsWithChar ('s'))
    {
        const auto samples = parseNumber (t.dropLastCharacters (1));

        if (samples && *samples >= 0.0 && juce::exactlyEqual (*samples, std::floor (*samples)) && *samples <= 1.0e15)
            return (juce::int64) *samples;
    }
    else if (const auto seconds = parseNumber (t); seconds && *seconds >= 0.0 && *seconds * rate <= 1.0e15)
    {
        return (juce::int64) std::llround (*seconds * rate);
    }

    throw HostError { source + ": the time '" + text + "' is neither seconds (1.5) nor a sample count (72000s)",
                      exitUsage };
}

AutomationPoint automationPoint (const HostSession& session, const ParameterSetting& setting, const juce::String& time,
                                 const juce::String& source)
{
    try
    {
        const auto [parameter, value] = session.resolveSetting (setting);
        return { frameForTime (time, session.sampleRate, source), parameter, value, source };
    }
    catch (const HostError& e)
    {
        throw HostError { e.message.startsWith (source) ? e.message : source + ": " + e.message, exitUsage };
    }
}

// The command line's --automate points and the lines of an --automation file (CSV of time, ID,
// value; blank lines, lines starting with '#' and a "time,id,value" header are skipped), in time
// order. The file must be in time order itself, so that a mistake in it is not silently reordered.
std::vector<AutomationPoint> readAutomation (const Options& options, const HostSession& session)
{
    std::vector<AutomationPoint> points;

    if (options.automationFile != juce::File())
    {
        const auto& file = options.automationFile;

        const auto text = readInputFile (file, maxLaneFileBytes, "automation file", exitUsage);

        // A NUL would silently end the text here: say so instead.
        if (std::memchr (text.getData(), 0, text.getSize()) != nullptr)
            throw HostError { file.getFullPathName() + " holds a NUL byte; automation files are text", exitUsage };

        juce::StringArray lines;
        lines.addLines (text.toString());

        for (int i = 0; i < lines.size(); ++i)
        {
            const auto line = lines[i].trim();
            const auto source = file.getFileName() + ":" + juce::String (i + 1);

            if (line.isEmpty() || line.startsWithChar ('#')
                || line.removeCharacters (" \t").equalsIgnoreCase ("time,id,value"))
                continue;

            juce::StringArray fields;
            fields.addTokens (line, ",", "\"");
            fields.trim();
            fields.removeEmptyStrings (false);

            if (fields.size() != 3)
                throw HostError { source + ": expected time, ID, value, not '" + line + "'", exitUsage };

            auto point = automationPoint (session, { fields[1].unquoted(), fields[2].unquoted() }, fields[0], source);

            if (! points.empty() && point.frame < points.back().frame)
                throw HostError { source + ": the time " + fields[0] + " comes before the time of the line above;"
                                      " the file must be in time order",
                                  exitUsage };

            points.push_back (point);
        }
    }

    for (const auto& a : options.automation)
        points.push_back (automationPoint (session, a.setting, a.time, a.source));

    std::stable_sort (points.begin(), points.end(), [] (const auto& a, const auto& b) { return a.frame < b.frame; });
    return points;
}

struct Progress
{
    bool enabled = isatty (STDERR_FILENO) != 0;
    int shown = -1;

    // total: the longest the render can be; a render that ends early jumps to 100 %.
    void update (juce::int64 done, juce::int64 total, bool finished)
    {
        if (! enabled || total <= 0)
            return;

        const auto percent = finished ? 100 : (int) (100 * done / total);

        if (percent == shown)
            return;

        shown = percent;
        const auto filled = percent / 4;
        std::cerr << "\rrendering [" << juce::String::repeatedString ("#", filled)
                  << juce::String::repeatedString (".", 25 - filled) << "] " << percent << "%" << std::flush;

        if (percent == 100)
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
    const juce::File midiFile (options.positional[1]);
    // Refuses a directory, a device or an input before any work.
    OutputFile out (juce::File (options.positional[2]),
                    { midiFile, options.stateFile, options.automationFile, options.tuningFile, options.keymapFile });
    const auto events = readMidiFileAsWritten (midiFile);
    const auto rate = options.sampleRate;
    const auto lastEventSeconds = events.empty() ? 0.0 : events.back().getTimeStamp();

    if (lastEventSeconds > longestRenderSeconds)
        throw HostError { midiFile.getFullPathName() + " lasts " + juce::String (lastEventSeconds / 3600.0, 1)
                          + " hours; renders stop at " + juce::String (longestRenderSeconds / 3600.0, 0) + " hours" };

    HostSession session (juce::File (options.positional[0]), rate, options.blockSize);
    auto& plugin = *session.instance;

    if (options.stateFile != juce::File())
        session.loadState (options.stateFile);

    applyTuningOption (session, options);
    session.applySettings (options.settings);
    const auto automation = readAutomation (options, session);
    const auto numOutputs = plugin.getTotalNumOutputChannels();

    if (numOutputs <= 0)
        throw HostError { session.description.name + " has no audio output" };

    // A fixed tail, or as long as the output sounds after the last event (MIDI or automation).
    const auto fixedLength = options.tailSeconds >= 0.0;
    const auto lastEventFrame = (juce::int64) std::llround (lastEventSeconds * rate);
    const auto endFrame = (juce::int64) std::ceil ((lastEventSeconds + (fixedLength ? options.tailSeconds : longestTailSeconds)) * rate);
    const auto quietFrames = (juce::int64) std::llround (quietSeconds * rate);
    auto quietFrom = lastEventFrame;

    for (const auto& point : automation)
    {
        if (point.frame >= endFrame)
            throw HostError { point.source + ": " + juce::String ((double) point.frame / rate, 3) + " s is beyond the render, which ends "
                                  + (fixedLength ? "at " : "at the latest at ") + juce::String ((double) endFrame / rate, 3)
                                  + " s (the last MIDI event at " + juce::String (lastEventSeconds, 3) + " s plus "
                                  + (fixedLength ? "--tail " + juce::String (options.tailSeconds) : juce::String (longestTailSeconds) + " s")
                                  + ")",
                              exitUsage };

        quietFrom = std::max (quietFrom, point.frame);
    }

    juce::WavAudioFormat wav;
    auto stream = out.createStream();
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
    size_t nextEvent = 0, nextPoint = 0;
    int notes = 0;
    juce::int64 written = 0, quietRun = 0;
    auto finished = false;

    while (written < endFrame && ! finished)
    {
        const auto start = written;
        const auto frames = (int) std::min ((juce::int64) options.blockSize, endFrame - start);
        buffer.setSize (buffer.getNumChannels(), frames, false, false, true);
        buffer.clear();
        midi.clear();

        for (; nextEvent < events.size(); ++nextEvent)
        {
            const auto& message = events[nextEvent];
            const auto frame = (juce::int64) std::llround (message.getTimeStamp() * rate);

            if (frame >= start + frames)
                break;

            if (message.isMetaEvent())
                continue;

            notes += message.isNoteOn() ? 1 : 0;
            // In time order: appended, not searched for, so a flood at one tick costs what spread events do.
            kestrune::appendInOrder (midi, (int) std::max ((juce::int64) 0, frame - start), message.getRawData(),
                                     message.getRawDataSize());
        }

        for (; nextPoint < automation.size() && automation[nextPoint].frame < start + frames; ++nextPoint)
            automation[nextPoint].parameter->setValueNotifyingHost (automation[nextPoint].value);

        plugin.processBlock (buffer, midi);
        auto keep = frames;

        if (! fixedLength)
        {
            // In 64 bits until it is known to fall inside this block: hours into a render, the
            // difference no longer fits an int.
            for (auto i = (int) std::clamp (quietFrom - start, (juce::int64) 0, (juce::int64) frames); i < frames; ++i)
            {
                auto loud = false;

                for (int ch = 0; ch < numOutputs && ! loud; ++ch)
                    loud = ! (std::abs (buffer.getSample (ch, i)) < quietLevel);   // NaN counts as sound

                quietRun = loud ? 0 : quietRun + 1;

                if (quietRun >= quietFrames)
                {
                    keep = i + 1;
                    finished = true;
                    break;
                }
            }
        }

        levels.add (buffer, numOutputs, keep);

        if (! writer->writeFromAudioSampleBuffer (buffer, 0, keep))
        {
            out.throwIfFailed();
            throw HostError { "could not write " + out.target().getFullPathName() };
        }

        written += keep;
        progress.update (written, endFrame, finished || written >= endFrame);
    }

    plugin.releaseResources();
    writer.reset();

    if (levels.nonFinite > 0)
        throw HostError { "the plug-in produced " + juce::String (levels.nonFinite) + " non-finite samples" };

    out.commit();

    const auto tailText = fixedLength ? "tail " + juce::String (options.tailSeconds) + " s"
                        : finished    ? juce::String ("tail until 200 ms below -100 dBFS")
                                      : "tail cut at the 30 s limit, still sounding";
    std::cout << "wrote " << out.target().getFullPathName() << ": " << numOutputs << " ch, " << rate << " Hz, "
              << (options.floatOutput ? "32-bit float" : "24-bit") << ", " << written << " frames ("
              << juce::String ((double) written / rate, 3) << " s, " << tailText << "), block " << options.blockSize << "\n"
              << "notes " << notes << ", automation points " << automation.size() << ", peak " << decibelText (levels.peak)
              << ", rms " << decibelText (levels.rms()) << "\n";

    return exitOk;
}
} // namespace host
