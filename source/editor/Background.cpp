#include "editor/Background.h"
#include "samplebank/Instrument.h"
#include "editor/LookAndFeel.h"

juce::String modWheelHint (int instrument)
{
    const auto tremolo = hasTremolo (instrument);
    return tremolo ? "MOD WHEEL = TREMOLO" : "MOD WHEEL = TRILL";
}

void paintEditorBackground (juce::Graphics& g, int width, int height, int instrument)
{
    const auto accent = instrumentColour (instrument);
    const auto w = (float) width;
    const auto h = (float) height;
    const auto big = monoFont (24.0f, juce::Font::bold);
    const auto small = monoFont (9.0f, juce::Font::plain);

    g.fillAll (palette::backgroundColour);

    g.setColour (palette::gridColour);
    for (int y = 0; y < height; y += 16)
        g.drawHorizontalLine (y, 0.0f, w);
    for (int x = 0; x < width; x += 16)
        g.drawVerticalLine (x, 0.0f, h);

    g.setColour (palette::headerColour);
    g.fillRect (0, 0, width, 52);

    g.setColour (withAlphaByte (accent, 0x0f));
    g.fillRect (juce::Rectangle<float> (0.0f, 49.0f, w, 6.0f));

    g.setColour (withAlphaByte (accent, 0x99));
    g.drawHorizontalLine (52, 0.0f, w);

    // The title glows from 25 faint copies around its place, then the solid text and a pale sheen.
    g.setFont (big);
    g.setColour (withAlphaByte (accent, 0x08));
    for (int dx = -2; dx <= 2; ++dx)
        for (int y = 8; y <= 12; ++y)
            g.drawText (backgroundText::title, juce::Rectangle<float> ((float) dx, (float) y, w, 34.0f),
                        juce::Justification::centred, true);

    const juce::Rectangle<float> titleBox (0.0f, 10.0f, w, 34.0f);
    g.setColour (accent);
    g.drawText (backgroundText::title, titleBox, juce::Justification::centred, true);
    g.setColour (withAlphaByte (palette::highlightColour, 0x26));
    g.drawText (backgroundText::title, titleBox, juce::Justification::centred, true);

    g.setFont (small);
    g.setColour (withAlphaByte (accent, 0x66));
    g.drawText (backgroundText::subtitle, juce::Rectangle<float> (10.0f, 4.0f, 250.0f, 12.0f),
                juce::Justification::centredLeft, true);
    g.drawText (backgroundText::version, juce::Rectangle<float> (w - 60.0f, 4.0f, 50.0f, 12.0f),
                juce::Justification::centredRight, true);

    g.setColour (withAlphaByte (accent, 0x0a));
    g.fillRect (20, 158, width - 40, 3);
    g.setColour (withAlphaByte (accent, 0x26));
    g.drawHorizontalLine (159, 20.0f, w - 20.0f);

    g.setColour (withAlphaByte (accent, 0x66));
    g.drawText (backgroundText::section, juce::Rectangle<float> (24.0f, 148.0f, 120.0f, 10.0f),
                juce::Justification::centredLeft, true);
    g.drawText (modWheelHint (instrument), juce::Rectangle<float> (w - 180.0f, 148.0f, 160.0f, 10.0f),
                juce::Justification::centredRight, true);

    g.drawRect (juce::Rectangle<float> (0.0f, 0.0f, w, h), 1.0f);

    g.setColour (withAlphaByte (accent, 0x80));
    const juce::Line<float> brackets[] = {
        { 0.0f, 0.0f, 16.0f, 0.0f },   { 0.0f, 0.0f, 0.0f, 16.0f },
        { w - 16.0f, 0.0f, w, 0.0f },  { w, 0.0f, w, 16.0f },
        { 0.0f, h, 16.0f, h },         { 0.0f, h - 16.0f, 0.0f, h },
        { w - 16.0f, h, w, h },        { w, h - 16.0f, w, h }
    };
    for (const auto& line : brackets)
        g.drawLine (line, 2.0f);

    g.setFont (small);
    g.setColour (withAlphaByte (accent, 0x40));
    g.drawText (backgroundText::credit, juce::Rectangle<float> (10.0f, h - 18.0f, w - 20.0f, 14.0f),
                juce::Justification::centred, true);
}
