#include "EditorTestSupport.h"

namespace
{
    constexpr float startAngle = juce::MathConstants<float>::pi * 1.2f;
    constexpr float endAngle = juce::MathConstants<float>::pi * 2.8f;

    juce::Image drawKnob (ZarnithLookAndFeel& lnf, int size, float position)
    {
        juce::Image image (juce::Image::ARGB, size, size, true);
        juce::Graphics g (image);
        juce::Slider slider;
        lnf.drawRotarySlider (g, 0, 0, size, size, position, startAngle, endAngle, slider);
        return image;
    }

    juce::Image drawToggle (ZarnithLookAndFeel& lnf, const juce::String& text, bool on, int w, int h)
    {
        juce::ToggleButton toggle (text);
        toggle.setSize (w, h);
        toggle.setToggleState (on, juce::dontSendNotification);
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        lnf.drawToggleButton (g, toggle, false, false);
        return image;
    }
}

// Each instrument tints the window in its own accent, which stands out from the ground; anything
// that is not an instrument shows the default accent, as a fresh look-and-feel does.
TEST (LookAndFeel, EveryInstrumentHasItsOwnVisibleAccent)
{
    for (int i = 0; i < numInstruments; ++i)
    {
        EXPECT_GT (colourDistance (instrumentColour (i), palette::backgroundColour), 96) << "instrument " << i;
        for (int j = i + 1; j < numInstruments; ++j)
            EXPECT_NE (instrumentColour (i), instrumentColour (j)) << "instruments " << i << " and " << j;
    }

    for (const int outside : { -1, (int) numInstruments, 1 << 30 })
        EXPECT_EQ (instrumentColour (outside), palette::defaultAccentColour) << "index " << outside;
    EXPECT_EQ (ZarnithLookAndFeel().accentColour, palette::defaultAccentColour);
}

TEST (LookAndFeel, MonospacedFontIsFoundAndDrawsGlyphs)
{
    const auto font = monoFont (10.0f, juce::Font::bold);
    EXPECT_TRUE (font.isBold());
    EXPECT_FLOAT_EQ (font.getHeight(), 10.0f);
    EXPECT_EQ (font.getTypefaceName(), juce::Font::getDefaultMonospacedFontName());

    // Fixed pitch: an "i" is as wide as an "M".
    juce::GlyphArrangement narrow, wide;
    narrow.addLineOfText (font, "iiii", 0, 0);
    wide.addLineOfText (font, "MMMM", 0, 0);
    EXPECT_GT (wide.getBoundingBox (0, -1, false).getWidth(), 0.0f);
    EXPECT_NEAR (narrow.getGlyph (3).getLeft(), wide.getGlyph (3).getLeft(), 0.5f);
}

TEST (LookAndFeel, KnobPointerFollowsThePositionInTheBrightenedAccent)
{
    ZarnithLookAndFeel lnf;
    const int size = 116;   // area 100 × 100: R = 50, pointer 35 px long, centre (58, 58)

    for (const float position : { 0.0f, 0.25f, 0.5f, 1.0f })
    {
        SCOPED_TRACE (position);
        const auto image = drawKnob (lnf, size, position);
        const float a = startAngle + position * (endAngle - startAngle);
        const auto at = [&] (float distance)
        {
            return image.getPixelAt (juce::roundToInt (58.0f + distance * std::sin (a) - 0.5f),
                                     juce::roundToInt (58.0f - distance * std::cos (a) - 0.5f));
        };

        EXPECT_LE (colourDistance (at (20.0f), juce::Colour (0xffd182ff)), 8) << "pointer core";
        EXPECT_EQ (image.getPixelAt (58, 58), juce::Colour (0xffbb44ff)) << "centre dot";

        // Half way round the other side of the pointer only the dark body shows.
        const float away = a + juce::MathConstants<float>::pi;
        const auto body = image.getPixelAt (juce::roundToInt (58.0f + 20.0f * std::sin (away) - 0.5f),
                                            juce::roundToInt (58.0f - 20.0f * std::cos (away) - 0.5f));
        EXPECT_EQ (body, palette::backgroundColour);
    }

    // The accent drives everything: with RHODES peach the pointer core is peach made brighter.
    lnf.accentColour = instrumentColour (7);
    const auto image = drawKnob (lnf, size, 1.0f);
    const auto tip = image.getPixelAt (juce::roundToInt (58.0f + 20.0f * std::sin (endAngle) - 0.5f),
                                       juce::roundToInt (58.0f - 20.0f * std::cos (endAngle) - 0.5f));
    EXPECT_LE (colourDistance (tip, instrumentColour (7).brighter (0.5f)), 8);
}

TEST (LookAndFeel, KnobTooSmallForARadiusStillDrawsItsCentreDot)
{
    ZarnithLookAndFeel lnf;
    for (const int size : { 10, 16 })
    {
        const auto image = drawKnob (lnf, size, 0.5f);   // the area shrinks to nothing at (8, 8)
        EXPECT_EQ (image.getPixelAt (8, 8), lnf.accentColour) << size;
    }
}

TEST (LookAndFeel, ToggleOnAndOffLooks)
{
    ZarnithLookAndFeel lnf;
    const auto accent = lnf.accentColour;

    const auto off = drawToggle (lnf, "DRONE", false, 150, 30);
    const auto on = drawToggle (lnf, "DRONE", true, 150, 30);

    // Body, just inside the border and outside the glow.
    EXPECT_EQ (off.getPixelAt (8, 15), palette::toggleOffColour);
    EXPECT_LE (colourDistance (on.getPixelAt (8, 15), accent.withAlpha ((juce::uint8) 0x1f)), 3);

    // Border on the left edge at x 2: opaque accent when on, 0x4c over the dark body when off.
    EXPECT_GT (on.getPixelAt (2, 15).getAlpha(), 0xb0);
    EXPECT_LT (off.getPixelAt (2, 15).getBlue(), 0x80);

    // The glow reaches outside the border only when on.
    EXPECT_GT (on.getPixelAt (0, 15).getAlpha(), 0);
    EXPECT_EQ (off.getPixelAt (0, 15).getAlpha(), 0);

    // Text: full accent when on, half when off (seen over black).
    const auto brightestBlue = [] (const juce::Image& toggle)
    {
        juce::Image image (juce::Image::RGB, toggle.getWidth(), toggle.getHeight(), true);
        juce::Graphics (image).drawImageAt (toggle, 0, 0);
        int best = 0;
        for (int y = 8; y < 22; ++y)
            for (int x = 20; x < 130; ++x)
                best = juce::jmax (best, (int) image.getPixelAt (x, y).getBlue());
        return best;
    };
    EXPECT_GT (brightestBlue (on), 0xe0);
    EXPECT_LT (brightestBlue (off), 0xa0);
    EXPECT_GT (brightestBlue (off), 0x40);
}

TEST (LookAndFeel, ToggleTextFitsOrEndsInAnEllipsis)
{
    ZarnithLookAndFeel lnf;
    const auto font = monoFont (10.0f, juce::Font::bold);
    const auto textWidth = [&] (const juce::String& s)
    {
        juce::GlyphArrangement ga;
        ga.addLineOfText (font, s, 0, 0);
        return ga.getBoundingBox (0, -1, true).getWidth();
    };

    // The drone switch has room for its whole text; "KEYS://OFF" does not fit a 46-px text area.
    EXPECT_LT (textWidth ("DRONE://OFF"), 146.0f);
    EXPECT_GT (textWidth ("KEYS://OFF"), 46.0f);

    // Drawn text never spills out of the 2-px inset area, however narrow the switch.
    for (const auto size : { juce::Point<int> (50, 16), juce::Point<int> (58, 16), juce::Point<int> (3, 3), juce::Point<int> (0, 0) })
    {
        if (size.x == 0)
        {
            juce::ToggleButton toggle ("KEYS");
            juce::Image image (juce::Image::ARGB, 1, 1, true);
            juce::Graphics g (image);
            lnf.drawToggleButton (g, toggle, true, true);   // zero size: nothing to draw, nothing fails
            continue;
        }
        const auto image = drawToggle (lnf, "KEYS", false, size.x, size.y);
        for (int y = 0; y < size.y; ++y)
            EXPECT_EQ (image.getPixelAt (size.x - 1, y).getAlpha(), 0) << size.x << " wide, row " << y;
    }

    // An empty text still shows its state.
    const auto empty = drawToggle (lnf, {}, true, 150, 30);
    EXPECT_GT (countInkPixels (empty, { 40, 8, 70, 14 }, empty.getPixelAt (8, 15), 40), 10);
}
