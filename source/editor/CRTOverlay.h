#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

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

    // The rim darkening as a radial gradient over (0, 0, width, height).
    static void fillVignette (juce::Graphics&, int width, int height);

    // The same pixels from a cached rendering at the context's physical scale: at one pixel per
    // unit in pieces that skip the clear centre, elsewhere whole (a smooth gradient loses nothing
    // when its picture lands between physical pixels).
    void drawCachedVignette (juce::Graphics&);

    float scanPosition = 0.0f;

private:
    // The vignette is the costliest layer and depends only on the size, while the overlay
    // repaints 30 times a second.
    struct VignettePiece { juce::Image image; juce::Point<int> position; };
    juce::Image vignetteCache;
    std::vector<VignettePiece> vignettePieces;
    juce::Image scaledVignetteCache;
    float scaledVignetteScale = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CRTOverlay)
};
