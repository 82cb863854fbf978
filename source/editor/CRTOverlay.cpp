#include "editor/CRTOverlay.h"

#include <cmath>

CRTOverlay::CRTOverlay()
{
    setInterceptsMouseClicks (false, false);
    startTimer (33);
}

float CRTOverlay::bandCentre (float position, int height)
{
    // Past H + 120 the remainder wraps, so the band briefly reappears at the top before the restart.
    return std::fmod (position, (float) (height + 120));
}

void CRTOverlay::timerCallback()
{
    scanPosition += 2.0f;

    if (scanPosition > (float) (getHeight() + 160))
        scanPosition = -40.0f;

    repaint();
}

void CRTOverlay::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();

    g.setColour (juce::Colours::black.withAlpha ((juce::uint8) 0x1f));
    for (int y = 0; y < h; y += 3)
        g.fillRect (0, y, w, 1);

    const float m = bandCentre (scanPosition, h);
    juce::ColourGradient band (juce::Colours::white.withAlpha ((juce::uint8) 0), 0.0f, m - 60.0f,
                               juce::Colours::white.withAlpha ((juce::uint8) 0), 0.0f, m + 60.0f, false);
    band.addColour (0.5, juce::Colours::white.withAlpha ((juce::uint8) 0x06));
    g.setGradientFill (band);
    g.fillRect (juce::Rectangle<float> (0.0f, m - 60.0f, (float) w, 120.0f));

    juce::ColourGradient vignette (juce::Colours::transparentBlack, (float) w * 0.5f, (float) h * 0.5f,
                                   juce::Colours::black.withAlpha ((juce::uint8) 0x80), 0.0f, 0.0f, true);
    vignette.addColour (0.65, juce::Colours::transparentBlack);
    g.setGradientFill (vignette);
    g.fillRect (0, 0, w, h);
}
