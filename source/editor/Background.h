#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace backgroundText
{
    inline constexpr const char* title = "ZARNITH://KESTRUNE";
    inline constexpr const char* subtitle = "MULTI-INSTRUMENT SAMPLER";
    // The version the project is built as.
    inline constexpr const char* version = "v" JucePlugin_VersionString;
    inline constexpr const char* section = "// CONTROLS";
    inline constexpr const char* credit = "SAMPLES: FLUIDR3 GM SOUNDFONT // MIT LICENCE";
}

// What the mod wheel does on an instrument: tremolo on RHODES, a trill everywhere else.
juce::String modWheelHint (int instrument);

// The editor's painted ground: grid, header with the glowing title, the controls divider,
// frame with corner brackets and the credit line. A pure function of size and instrument.
void paintEditorBackground (juce::Graphics&, int width, int height, int instrument);
