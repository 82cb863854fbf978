#include "editor/CRTOverlay.h"

#include <cmath>

namespace
{
    // The parts of the window, in strips of rows, that the vignette darkens: everything but the
    // run of each strip lying wholly inside its clear circle (the inner 65 % of the half-diagonal),
    // with a margin for the gradient table's quantisation.
    std::vector<juce::Rectangle<int>> darkenedArea (int width, int height)
    {
        const float cx = (float) width * 0.5f;
        const float cy = (float) height * 0.5f;
        const float radius = 0.65f * std::sqrt (cx * cx + cy * cy) - 2.0f;
        constexpr int strip = 8;

        std::vector<juce::Rectangle<int>> area;
        for (int y0 = 0; y0 < height; y0 += strip)
        {
            const int y1 = juce::jmin (y0 + strip, height);
            const float farthest = juce::jmax (std::abs ((float) y0 - cy), std::abs ((float) y1 - cy));
            const float dx = farthest < radius ? std::sqrt (radius * radius - farthest * farthest) : 0.0f;
            const int left = juce::jlimit (0, width, (int) std::ceil (cx - dx));
            const int right = juce::jlimit (left, width, (int) std::floor (cx + dx));

            if (right - left <= 0)
            {
                area.push_back ({ 0, y0, width, y1 - y0 });
                continue;
            }
            if (left > 0)
                area.push_back ({ 0, y0, left, y1 - y0 });
            if (right < width)
                area.push_back ({ right, y0, width - right, y1 - y0 });
        }
        return area;
    }
}

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

void CRTOverlay::fillVignette (juce::Graphics& g, int width, int height)
{
    juce::ColourGradient vignette (juce::Colours::transparentBlack, (float) width * 0.5f, (float) height * 0.5f,
                                   juce::Colours::black.withAlpha ((juce::uint8) 0x80), 0.0f, 0.0f, true);
    vignette.addColour (0.65, juce::Colours::transparentBlack);
    g.setGradientFill (vignette);
    g.fillRect (0, 0, width, height);
}

void CRTOverlay::drawCachedVignette (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();

    if (w <= 0 || h <= 0)
        return;

    if (const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor(); ! juce::exactlyEqual (scale, 1.0f))
    {
        const auto pw = juce::roundToInt ((float) w * scale), ph = juce::roundToInt ((float) h * scale);
        if (pw <= 0 || ph <= 0)
            return;
        if (scaledVignetteCache.getWidth() != pw || scaledVignetteCache.getHeight() != ph
            || ! juce::exactlyEqual (scaledVignetteScale, scale))
        {
            scaledVignetteCache = juce::Image (juce::Image::ARGB, pw, ph, true);
            juce::Graphics cacheGraphics (scaledVignetteCache);
            cacheGraphics.addTransform (juce::AffineTransform::scale ((float) pw / (float) w, (float) ph / (float) h));
            fillVignette (cacheGraphics, w, h);
            scaledVignetteScale = scale;
        }
        g.drawImageTransformed (scaledVignetteCache, juce::AffineTransform::scale ((float) w / (float) pw, (float) h / (float) ph));
        return;
    }

    if (vignetteCache.getWidth() != w || vignetteCache.getHeight() != h)
    {
        vignetteCache = juce::Image (juce::Image::ARGB, w, h, true);
        juce::Graphics cacheGraphics (vignetteCache);
        fillVignette (cacheGraphics, w, h);
        vignettePieces.clear();
        for (const auto& r : darkenedArea (w, h))
            vignettePieces.push_back ({ vignetteCache.getClippedImage (r), r.getPosition() });
    }

    // Blending a fully transparent pixel leaves it as it was, so the clear centre is skipped.
    for (const auto& piece : vignettePieces)
        g.drawImageAt (piece.image, piece.position.x, piece.position.y);
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

    drawCachedVignette (g);
}
