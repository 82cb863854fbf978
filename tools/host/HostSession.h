#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "core/ParameterTable.h"
#include "engine/Tuning.h"

#include <optional>
#include <utility>
#include <vector>

namespace host
{
// Exit codes: 0 success, 1 the plug-in or a file failed, 2 the command line was wrong.
enum ExitCode
{
    exitOk = 0,
    exitFailure = 1,
    exitUsage = 2
};

// A failure that ends the command with a message on stderr and the given exit code.
struct HostError
{
    juce::String message;
    int exitCode = exitFailure;
};

using ParameterSetting = std::pair<juce::String, juce::String>;   // id or name, value text

// One plug-in instance loaded from a VST3 bundle through the format manager, as a DAW loads it.
struct HostSession
{
    juce::File bundle;
    double sampleRate;
    int blockSize;
    juce::AudioPluginFormatManager formats;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;

    // Throws HostError when the bundle is missing or holds no loadable plug-in.
    HostSession (const juce::File& bundle, double sampleRate, int blockSize);
    ~HostSession();

    // The parameters a user sees: the plug-in's own and the wrapper's Bypass, without the
    // wrapper's hidden per-channel MIDI controller parameters.
    juce::Array<juce::AudioProcessorParameter*> visibleParameters() const;

    // The plug-in's own parameters: the visible ones without Bypass.
    juce::Array<juce::AudioProcessorParameter*> instrumentParameters() const;

    // Finds a parameter by the plug-in's string ID, the VST3 parameter number or the name.
    juce::AudioProcessorParameter* findParameter (const juce::String& key) const;

    // Sets each parameter from text in its own units ("0.1", "HARP", "2", "on");
    // throws HostError (usage) for an unknown parameter or a value it cannot take.
    void applySettings (const std::vector<ParameterSetting>& settings);

    // Normalised value of a parameter for "ID=VALUE" (the forms --set takes); throws HostError
    // (usage) for an unknown parameter, or a value it cannot take or that lies outside its range.
    std::pair<juce::AudioProcessorParameter*, float> resolveSetting (const ParameterSetting&) const;

    // Refuses a file that is one of the inputs, as every output does.
    void saveState (const juce::File& file, const std::vector<juce::File>& inputs);

    // Throws HostError when the file is no saved state or the plug-in does not take it.
    void loadState (const juce::File& file);

    // The tuning the plug-in's state holds: its own element there, or equal temperament without one.
    tuning::Table tuning() const;

    // Hands the plug-in a tuning the way a host restores a preset that holds one: its state with the
    // tuning element replaced. Throws HostError when the plug-in then holds another tuning.
    void applyTuning (const tuning::Table&);
};

juce::String parameterId (const juce::AudioProcessorParameter&);
juce::String defaultText (const juce::AudioProcessorParameter&);

// The row of the instrument's parameter table that a parameter of the bundle publishes, or null.
const kestrune::ParameterRow* tableEntryFor (const juce::AudioProcessorParameter&);

// Where the bundle's parameters disagree with the instrument's parameter table (order, IDs, names,
// step counts, defaults, the texts at the ends of each range); empty when they agree.
juce::StringArray disagreementsWithTable (const HostSession&);

// The parameters, as aligned text or as a JSON array of the plug-in's own (Bypass left out): the
// table's fields (id, kind, range, step, skew, default in own units, unit, choices) beside what
// the bundle reports (name, default text, current value).
juce::String describeParameters (const HostSession&);
juce::var parametersAsJson (const HostSession&);

juce::String decibelText (float gain);

// The whole of a regular file of at most maxBytes; throws HostError (with exitCode) naming the kind
// of file when it is missing, unreadable, a device, a pipe or a directory, or larger than that.
juce::MemoryBlock readInputFile (const juce::File& file, juce::int64 maxBytes, const juce::String& kind,
                                 int exitCode = exitFailure);

// A Scala scale, through a keyboard map when one is given (a default File: Scala's linear map), read
// under the rules of every input file and built as the plug-in builds it, named after the scale's
// file; throws HostError (usage) naming the file and the line at fault.
tuning::Table readTuningFiles (const juce::File& scl, const juce::File& kbm);

// The whole text as one finite number (no trailing characters, no "inf" or "nan").
std::optional<double> parseNumber (const juce::String& text);
} // namespace host
