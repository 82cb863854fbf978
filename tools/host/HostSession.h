#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

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
    juce::AudioPluginFormatManager formats;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;

    // Throws HostError when the bundle is missing or holds no loadable plug-in.
    HostSession (const juce::File& bundle, double sampleRate, int blockSize);
    ~HostSession();

    // The parameters a user sees: the plug-in's own and the wrapper's Bypass, without the
    // wrapper's hidden per-channel MIDI controller parameters.
    juce::Array<juce::AudioProcessorParameter*> visibleParameters() const;

    // Finds a parameter by the plug-in's string ID, the VST3 parameter number or the name.
    juce::AudioProcessorParameter* findParameter (const juce::String& key) const;

    // Sets each parameter from text in its own units ("0.1", "HARP", "2", "on");
    // throws HostError (usage) for an unknown parameter or a value it cannot take.
    void applySettings (const std::vector<ParameterSetting>& settings);

    void saveState (const juce::File& file);
    void loadState (const juce::File& file);
};

juce::String parameterId (const juce::AudioProcessorParameter&);
juce::String defaultText (const juce::AudioProcessorParameter&);

// Normalised value for a text in the parameter's own units, or -1 when the text names no value.
float normalisedValueFor (const juce::AudioProcessorParameter&, const juce::String& text);

// The parameter table, as aligned text or as a JSON array.
juce::String describeParameters (const HostSession&);
juce::var parametersAsJson (const HostSession&);

juce::String decibelText (float gain);
} // namespace host
