#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Transparent scan-line layer stretched over the whole editor: dark rows every third pixel,
// a faint bright band drifting down the screen, and a darkened rim. It never takes the mouse.
class CRTOverlay : public juce::Component, private juce::Timer
{
public:
    CRTOverlay();

    void paint (juce::Graphics&) override;
    void timerCallback() override;

    // Centre row of the drifting band for a band position and overlay height.
    static float bandCentre (float scanPosition, int height);

    float scanPosition = 0.0f;
};
