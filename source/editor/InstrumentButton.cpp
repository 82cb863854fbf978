#include "editor/InstrumentButton.h"
#include "editor/LookAndFeel.h"
#include "editor/InstrumentLooks.h"

InstrumentButton::InstrumentButton (int instrumentIndex)
    : index (instrumentIndex), label (instrumentLooks[instrumentIndex].caption)
{
}

void InstrumentButton::mouseEnter (const juce::MouseEvent&)
{
    hovered = true;
    repaint();
}

void InstrumentButton::mouseExit (const juce::MouseEvent&)
{
    hovered = false;
    repaint();
}

void InstrumentButton::mouseDown (const juce::MouseEvent&)
{
    if (onClick)
        onClick (index);
}

void InstrumentButton::paint (juce::Graphics& g)
{
    const int width = getWidth();
    const int height = getHeight();
    const float w = (float) juce::jmax (0, width - 4);
    const float h = (float) juce::jmax (0, height - 4);
    const juce::Rectangle<float> frame (2.0f, 2.0f, w, h);
    const auto c = instrumentColour (index);

    if (selected)
    {
        g.setColour (withAlphaByte (c, 0x1a));
        g.fillRoundedRectangle (frame, 6.0f);
        g.setColour (withAlphaByte (c, 0x0f));
        g.drawRoundedRectangle (frame, 6.0f, 6.0f);
        g.setColour (withAlphaByte (c, 0x33));
        g.drawRoundedRectangle (frame, 6.0f, 2.0f);
        g.setColour (c);
        g.drawRoundedRectangle (frame, 6.0f, 1.0f);
    }
    else if (hovered)
    {
        g.setColour (withAlphaByte (c, 0x0a));
        g.fillRoundedRectangle (frame, 6.0f);
        g.setColour (withAlphaByte (c, 0x26));
        g.drawRoundedRectangle (frame, 6.0f, 1.0f);
    }
    else
    {
        g.setColour (withAlphaByte (c, 0x0f));
        g.drawRoundedRectangle (frame, 6.0f, 0.5f);
    }

    const float iconW = juce::jmax (0.0f, w - 12.0f);
    const float iconH = juce::jmin (juce::jmax (0.0f, h - 12.0f), 0.55f * h);
    const float ix = 8.0f + iconW * 0.5f;
    const float iy = 8.0f + iconH * 0.5f;
    const float r = 0.35f * juce::jmin (iconW, iconH);
    const float strength = selected ? 1.0f : (hovered ? 0.6f : 0.3f);

    if (icon.isValid())
    {
        if (selected)
        {
            g.setColour (withAlphaByte (c, 0x26));
            g.fillEllipse (ix - 1.5f * r, iy - 1.5f * r, 3.0f * r, 3.0f * r);
            g.setColour (withAlphaByte (c, 0x14));
            g.fillEllipse (ix - 1.8f * r, iy - 1.8f * r, 3.6f * r, 3.6f * r);
        }

        const float side = 2.2f * r;
        const float left = ix - side * 0.5f;
        const float top = iy - side * 0.5f;

        g.setOpacity (strength);
        g.drawImage (icon, (int) left, (int) top, (int) side, (int) side, 0, 0, icon.getWidth(), icon.getHeight());

        if (selected)
        {
            // A colour wash ties every pictogram to the instrument's hue.
            g.setColour (withAlphaByte (c, 0x4c));
            g.fillRect (juce::Rectangle<float> (left, top, side, side));
        }
        else
        {
            g.setOpacity (1.0f);
        }
    }

    const float captionAreaH = juce::jmax (0.0f, h - 8.0f);
    const float th = juce::jmin (captionAreaH, 0.28f * h);
    const juce::Rectangle<float> captionBox (6.0f, captionAreaH + 6.0f - th, juce::jmax (0.0f, w - 8.0f), th);

    g.setFont (monoFont (selected ? 10.0f : 9.0f, juce::Font::bold));

    if (selected)
    {
        g.setColour (withAlphaByte (c, 0x4c));
        g.drawText (label, captionBox.translated (0.0f, 1.0f), juce::Justification::centred, true);
        g.setColour (c);
        g.drawText (label, captionBox, juce::Justification::centred, true);
    }
    else
    {
        g.setColour (withAlphaByte (c, hovered ? 0x99 : 0x4c));
        g.drawText (label, captionBox, juce::Justification::centred, true);
    }

    g.setColour (juce::Colours::black.withAlpha ((juce::uint8) 0x0f));
    for (int y = 0; y < height; y += 3)
        g.fillRect (0, y, width, 1);
}
