#include "editor/LookAndFeel.h"
#include "editor/InstrumentLooks.h"

juce::Colour instrumentColour (int instrumentIndex)
{
    if (! isInstrument (instrumentIndex))
        return palette::defaultAccentColour;

    return juce::Colour (instrumentLooks[instrumentIndex].colour);
}

void ZarnithLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool)
{
    const juce::Rectangle<float> area (2.0f, 2.0f,
                                       (float) juce::jmax (0, button.getWidth() - 4),
                                       (float) juce::jmax (0, button.getHeight() - 4));
    const bool on = button.getToggleState();

    g.setColour (on ? withAlphaByte (accentColour, 0x1f) : palette::toggleOffColour);
    g.fillRoundedRectangle (area, 4.0f);

    if (on)
    {
        g.setColour (withAlphaByte (accentColour, 0x0f));
        g.drawRoundedRectangle (area, 4.0f, 6.0f);
    }

    g.setColour (on ? accentColour : withAlphaByte (accentColour, 0x4c));
    g.drawRoundedRectangle (area, 4.0f, 1.5f);

    g.setFont (monoFont (10.0f, juce::Font::bold));
    g.setColour (on ? accentColour : withAlphaByte (accentColour, 0x80));
    g.drawText (button.getButtonText() + (on ? "://ON" : "://OFF"), area, juce::Justification::centred, true);
}

void ZarnithLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                           float sliderPos, float startAngle, float endAngle, juce::Slider&)
{
    const juce::Rectangle<float> area ((float) (x + 8), (float) (y + 8),
                                       (float) juce::jmax (0, width - 16), (float) juce::jmax (0, height - 16));
    const float radius = juce::jmin (area.getWidth(), area.getHeight()) * 0.5f;
    const float cx = area.getCentreX();
    const float cy = area.getCentreY();
    const float angle = startAngle + sliderPos * (endAngle - startAngle);

    for (int i = 4; i >= 1; --i)
    {
        const float r = radius + 2.0f * (float) i;
        g.setColour (accentColour.withAlpha ((float) i * 0.02f));
        g.drawEllipse (cx - r, cy - r, 2.0f * r, 2.0f * r, 2.0f);
    }

    g.setColour (palette::backgroundColour);
    g.fillEllipse (cx - radius, cy - radius, 2.0f * radius, 2.0f * radius);

    const auto stroke = [] (float strokeWidth)
    {
        return juce::PathStrokeType (strokeWidth, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    };

    juce::Path track;
    track.addCentredArc (cx, cy, radius, radius, 0.0f, startAngle, endAngle, true);
    g.setColour (withAlphaByte (accentColour, 0x14));
    g.strokePath (track, stroke (2.5f));

    juce::Path value;
    value.addCentredArc (cx, cy, radius, radius, 0.0f, startAngle, angle, true);

    // Wide faint strokes first, then the opaque line and a pale core: a glowing value arc.
    const struct { juce::Colour colour; float width; } passes[] = {
        { withAlphaByte (accentColour, 0x0a), 14.0f },
        { withAlphaByte (accentColour, 0x1f), 6.0f },
        { accentColour, 2.5f },
        { withAlphaByte (palette::highlightColour, 0x33), 0.8f }
    };

    for (const auto& pass : passes)
    {
        g.setColour (pass.colour);
        g.strokePath (value, stroke (pass.width));
    }

    const float length = 0.7f * radius;
    const juce::Line<float> pointer (cx, cy, cx + length * std::sin (angle), cy - length * std::cos (angle));
    g.setColour (withAlphaByte (accentColour, 0x26));
    g.drawLine (pointer, 5.0f);
    g.setColour (accentColour.brighter (0.5f));
    g.drawLine (pointer, 2.0f);

    g.setColour (accentColour);
    g.fillEllipse (cx - 3.0f, cy - 3.0f, 6.0f, 6.0f);
}

juce::Font ZarnithLookAndFeel::getTextButtonFont (juce::TextButton&, int buttonHeight)
{
    return monoFont (juce::jmin (10.0f, (float) buttonHeight * 0.6f), juce::Font::bold);
}
