#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's fixed colours. Everything else is tinted by the instrument's accent colour.
namespace palette
{
    inline const juce::Colour backgroundColour   { 0xff030008 };
    inline const juce::Colour gridColour         { 0xff0a0515 };
    inline const juce::Colour headerColour       { 0xee000005 };
    inline const juce::Colour highlightColour    { 0xffeeddff };
    inline const juce::Colour toggleOffColour    { 0xff08000f };
    inline const juce::Colour whiteKeyColour     { 0xff100818 };
    inline const juce::Colour keySeparatorColour { 0xff221133 };
    inline const juce::Colour knobLabelColour    { 0xff00ffee };
    inline const juce::Colour defaultAccentColour { 0xffbb44ff };
}

// Accent colour of an instrument index; an index outside the instrument table falls back to the
// default purple.
juce::Colour instrumentColour (int instrumentIndex);

// A colour with its alpha byte replaced: the glow layers are specified as exact bytes.
inline juce::Colour withAlphaByte (juce::Colour c, juce::uint8 alpha) { return c.withAlpha (alpha); }

// Every text the editor draws itself uses the platform's monospaced typeface, asked for by name.
inline juce::Font monoFont (float height, int style)
{
    return juce::Font (juce::FontOptions (juce::Font::getDefaultMonospacedFontName(), height, style));
}

class ZarnithLookAndFeel : public juce::LookAndFeel_V4
{
public:
    void drawToggleButton (juce::Graphics&, juce::ToggleButton&,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider&) override;

    // The header's tuning button: small capitals in the editor's monospaced face.
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    juce::Colour accentColour = palette::defaultAccentColour;
};
