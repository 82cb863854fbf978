#pragma once

#include "HostSession.h"

namespace host
{
// One --automate ID=VALUE@TIME, split but not yet checked against the plug-in or the render.
struct AutomationArgument
{
    ParameterSetting setting;
    juce::String time;
    juce::String source;   // as typed, for messages
};

// The command line after the subcommand: positional arguments and every option that any
// subcommand takes. Each subcommand checks that it got only what it understands.
struct Options
{
    juce::StringArray positional;
    juce::StringArray given;   // option names as typed, to refuse those a subcommand does not take
    std::vector<ParameterSetting> settings;
    std::vector<AutomationArgument> automation;
    juce::File automationFile;
    double sampleRate = 48000.0;
    int blockSize = 512;
    double tailSeconds = -1.0;   // negative: until the output has died away
    juce::File stateFile;
    bool floatOutput = false;
    double seconds = 2.0;
    juce::File screenshot;
    bool clickKeys = false;
    double scale = 1.0;         // the content scale the editor is handed
    bool json = false;
};

int runRender (const Options&);
int runEditor (const Options&);
} // namespace host
