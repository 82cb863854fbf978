#include "EditorTestSupport.h"

#include <algorithm>
#include <cmath>
#include <map>

// What a viewer sees of the drifting band, tick by tick of the overlay's own timer: it glides down in
// small even steps, crosses every row and leaves past the bottom edge before it starts again at the
// top, and a full pass takes about twelve seconds at the standard height (longer on a taller window).
TEST (CRTOverlay, BandGlidesDownTheWholeWindowAndStartsAgain)
{
    constexpr double secondsPerTick = 0.033;
    constexpr float halfBand = 60.0f;   // the band fades to nothing this far from its centre
    std::map<int, double> passSeconds;

    for (const int height : { 480, 540, 700 })
    {
        SCOPED_TRACE (height);
        CRTOverlay overlay;
        overlay.setSize (720, height);
        const auto start = overlay.scanPosition;

        std::vector<float> centres { CRTOverlay::bandCentre (overlay.scanPosition, height) };
        do
        {
            overlay.timerCallback();
            centres.push_back (CRTOverlay::bandCentre (overlay.scanPosition, height));
        } while (overlay.scanPosition != start && centres.size() < 10000);
        ASSERT_LT (centres.size(), 10000u) << "the band never comes back to where it started";
        passSeconds[height] = (double) (centres.size() - 1) * secondsPerTick;

        int glides = 0, jumpsBack = 0;
        for (size_t i = 1; i < centres.size(); ++i)
        {
            const auto step = centres[i] - centres[i - 1];
            glides += step > 0.0f && step <= 2.0f ? 1 : 0;
            jumpsBack += step < 0.0f ? 1 : 0;
        }
        EXPECT_EQ (glides + jumpsBack, (int) centres.size() - 1) << "every tick either glides down or starts again";
        EXPECT_LE (jumpsBack, 2);

        for (int row = 0; row < height; ++row)
            ASSERT_TRUE (std::any_of (centres.begin(), centres.end(), [row] (float c) { return std::abs (c - (float) row) <= 1.0f; }))
                << "the band never crosses row " << row;
        EXPECT_GE (*std::max_element (centres.begin(), centres.end()), (float) height + halfBand) << "leaves past the bottom";
    }

    EXPECT_NEAR (passSeconds[540], 12.2, 0.1);
    EXPECT_LT (passSeconds[480], passSeconds[540]);
    EXPECT_LT (passSeconds[540], passSeconds[700]);
}

TEST (CRTOverlay, ScanLinesBandAndVignette)
{
    CRTOverlay overlay;
    overlay.setSize (720, 540);
    overlay.scanPosition = -40.0f;   // band centre 40 px above the top: only rows 0 to 20 see it
    auto image = renderComponent (overlay);

    // Centre of the window: clear of the vignette and the band, so only the scan lines show.
    EXPECT_EQ (image.getPixelAt (360, 270).getAlpha(), 0x1f) << "scan-line row";
    EXPECT_EQ (image.getPixelAt (360, 271).getAlpha(), 0) << "between scan lines";
    EXPECT_GT (image.getPixelAt (360, 537).getAlpha(), image.getPixelAt (360, 538).getAlpha()) << "last scan line";
    EXPECT_GT (image.getPixelAt (360, 1).getAlpha(), 0) << "the band's faint lower tail";
    EXPECT_EQ (image.getPixelAt (360, 22).getAlpha(), 0) << "below the band";

    // The band brightens around y 300; at row 301 (no scan line) it is white at about 0x06.
    overlay.scanPosition = 300.0f;
    image = renderComponent (overlay);
    const auto band = image.getPixelAt (360, 301);
    EXPECT_NEAR (band.getAlpha(), 6, 1);
    EXPECT_EQ (band.getRed(), 255);

    // Corners darken to about half black.
    EXPECT_NEAR (image.getPixelAt (0, 1).getAlpha(), 0x80, 6);
    EXPECT_EQ (image.getPixelAt (0, 1).getRed(), 0);
}

TEST (CRTOverlay, CachedVignetteIsIdenticalToTheGradientFill)
{
    // An opaque, varied ground, so any difference in blending would show.
    const auto ground = [] (int w, int h)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Random random (7);
        juce::Image::BitmapData data (image, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                data.setPixelColour (x, y, juce::Colour (0xff000000u | (juce::uint32) random.nextInt (0x1000000)));
        return image;
    };

    // The largest difference of any channel between two images.
    const auto difference = [] (const juce::Image& a, const juce::Image& b)
    {
        int largest = 0;
        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
            {
                const auto p = a.getPixelAt (x, y), q = b.getPixelAt (x, y);
                largest = juce::jmax (largest, std::abs (p.getRed() - q.getRed()), std::abs (p.getGreen() - q.getGreen()),
                                      std::abs (p.getBlue() - q.getBlue()));
            }
        return largest;
    };

    struct Case { juce::Point<int> size; float scale; int tolerance; };
    // At one pixel per unit the cache is exact; on high-density screens (drawn at the physical scale,
    // whole) it may round differently by a step, by two where the scaled size is not whole.
    const Case cases[] = { { { 720, 540 }, 1.0f, 0 }, { { 720, 480 }, 1.0f, 0 }, { { 101, 37 }, 1.0f, 0 },
                           { { 3, 500 }, 1.0f, 0 },   { { 1, 1 }, 1.0f, 0 },     { { 720, 540 }, 2.0f, 1 },
                           { { 720, 540 }, 1.5f, 1 }, { { 101, 37 }, 1.25f, 2 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.size.x) + " x " + juce::String (c.size.y) + " at " + juce::String (c.scale));
        const auto base = ground (juce::roundToInt ((float) c.size.x * c.scale), juce::roundToInt ((float) c.size.y * c.scale));
        auto direct = base.createCopy();
        {
            juce::Graphics g (direct);
            g.addTransform (juce::AffineTransform::scale (c.scale));
            CRTOverlay::fillVignette (g, c.size.x, c.size.y);
        }

        CRTOverlay overlay;
        overlay.setSize (c.size.x, c.size.y);
        for (const char* pass : { "building the cache", "from the cache" })
        {
            auto cached = base.createCopy();
            {
                juce::Graphics g (cached);
                g.addTransform (juce::AffineTransform::scale (c.scale));
                overlay.drawCachedVignette (g);
            }
            EXPECT_LE (difference (direct, cached), c.tolerance) << pass;
        }
    }
}

TEST (CRTOverlay, IgnoresTheMouseAndSurvivesZeroHeight)
{
    CRTOverlay overlay;
    bool self = true, children = true;
    overlay.getInterceptsMouseClicks (self, children);
    EXPECT_FALSE (self);
    EXPECT_FALSE (children);
    overlay.setSize (720, 0);
    overlay.timerCallback();
    juce::Image image (juce::Image::ARGB, 4, 4, true);
    juce::Graphics g (image);
    g.reduceClipRegion (overlay.getLocalBounds());   // what the window grants a zero-height child
    overlay.paint (g);
    EXPECT_EQ (image.getPixelAt (1, 0).getAlpha(), 0);
}

namespace
{
    juce::Image iconImage()
    {
        juce::Image icon (juce::Image::ARGB, 64, 64, true);
        juce::Graphics (icon).fillAll (juce::Colours::white);
        return icon;
    }

    void press (InstrumentButton& button)
    {
        const auto pos = button.getLocalBounds().getCentre().toFloat();
        const auto now = juce::Time::getCurrentTime();
        const juce::MouseEvent e (juce::Desktop::getInstance().getMainMouseSource(), pos, juce::ModifierKeys::rightButtonModifier,
                                  juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                  &button, &button, now, pos, now, 1, false);
        button.mouseDown (e);
    }
}

TEST (InstrumentButton, ThreeLooksOfFrameIconAndCaption)
{
    InstrumentButton button (0);
    button.setSize (82, 86);
    button.icon = iconImage();
    const auto c = instrumentColour (0);

    struct Look { bool selected, hovered; juce::Image image; };
    Look looks[] = { { false, false, {} }, { false, true, {} }, { true, false, {} }, { true, true, {} } };
    for (auto& look : looks)
    {
        button.selected = look.selected;
        button.hovered = look.hovered;
        look.image = renderComponent (button);
    }
    const auto& plain = looks[0].image;
    const auto& hover = looks[1].image;
    const auto& selected = looks[2].image;

    // Selected wins over hovered.
    EXPECT_EQ (selected.getPixelAt (40, 50), looks[3].image.getPixelAt (40, 50));
    EXPECT_EQ (selected.getPixelAt (2, 43), looks[3].image.getPixelAt (2, 43));

    // Left frame edge at x 2 (row 43 has no scan line): opaque line when selected, faint otherwise.
    EXPECT_GT (selected.getPixelAt (2, 43).getAlpha(), 0xa0);
    EXPECT_LT (hover.getPixelAt (2, 43).getAlpha(), 0x40);
    EXPECT_LT (plain.getPixelAt (2, 43).getAlpha(), 0x10);

    // Inside the frame beside the icon: the fill is 0x1a when selected, 0x0a when hovered, nothing otherwise.
    EXPECT_NEAR (selected.getPixelAt (6, 50).getAlpha(), 0x1a, 2);
    EXPECT_NEAR (hover.getPixelAt (6, 50).getAlpha(), 0x0a, 2);
    EXPECT_EQ (plain.getPixelAt (6, 50).getAlpha(), 0);

    // Icon square (23, 13, 34, 34): the white icon at full strength with a wash, or dimmed.
    const auto iconSelected = selected.getPixelAt (40, 29);
    EXPECT_EQ (iconSelected.getAlpha(), 255);
    EXPECT_LE (colourDistance (iconSelected, juce::Colours::white.overlaidWith (c.withAlpha ((juce::uint8) 0x4c))), 3);
    EXPECT_NEAR (plain.getPixelAt (40, 29).getAlpha(), 0x4c, 2);
    EXPECT_NEAR (hover.getPixelAt (40, 29).getAlpha(), 0x99 + 4, 2) << "0.6 over the 0x0a hover fill";
    EXPECT_EQ (plain.getPixelAt (22, 29).getAlpha(), 0) << "left of the icon square";

    // Below the icon square the outer halo disc (radius 28.4 about (41, 30.55)) adds to the fill,
    // only when selected.
    EXPECT_GT (selected.getPixelAt (41, 56).getAlpha(), 0x1a + 12);
    EXPECT_NEAR (hover.getPixelAt (41, 56).getAlpha(), 0x0a, 2);
}

TEST (InstrumentButton, ScanLinesCoverEveryThirdRowIncludingTheMargin)
{
    InstrumentButton button (7);
    button.setSize (82, 86);
    const auto image = renderComponent (button);
    for (int y = 0; y < 86; ++y)
    {
        const auto margin = image.getPixelAt (0, y);
        EXPECT_EQ (margin.getAlpha(), y % 3 == 0 ? 0x0f : 0) << "row " << y;
        if (y % 3 == 0)
        {
            EXPECT_EQ (margin.getRed(), 0);
        }
    }
}

TEST (InstrumentButton, WithoutIconOnlyFrameCaptionAndScanLines)
{
    InstrumentButton withIcon (6), without (6);
    withIcon.icon = iconImage();
    for (auto* b : { &withIcon, &without })
    {
        b->setSize (82, 86);
        b->selected = true;
    }
    const auto a = renderComponent (withIcon);
    const auto b = renderComponent (without);
    EXPECT_GT (a.getPixelAt (40, 29).getAlpha(), 0xf0);
    EXPECT_NEAR (b.getPixelAt (40, 29).getAlpha(), 0x1a, 2);
    int captionInk = 0;
    for (int y = 60; y < 86; ++y)
        for (int x = 0; x < 82; ++x)
        {
            ASSERT_EQ (a.getPixelAt (x, y), b.getPixelAt (x, y)) << "the caption keeps its place";
            captionInk += a.getPixelAt (x, y).getAlpha() > 0x80 ? 1 : 0;
        }
    EXPECT_GT (captionInk, 20);
}

TEST (InstrumentButton, PressReportsIndexOnceAndChangesNothingElse)
{
    InstrumentButton button (5);
    button.setSize (82, 86);
    press (button);   // no callback: ignored

    std::vector<int> reported;
    button.onClick = [&] (int i) { reported.push_back (i); };
    press (button);
    EXPECT_EQ (reported, std::vector<int> { 5 });
    EXPECT_FALSE (button.selected);

    button.selected = true;
    press (button);
    EXPECT_EQ (reported, (std::vector<int> { 5, 5 }));
    EXPECT_TRUE (button.selected);
}

TEST (InstrumentButton, TinySizesDrawWithoutFailing)
{
    for (const auto size : { juce::Point<int> (16, 86), juce::Point<int> (82, 16), juce::Point<int> (3, 3), juce::Point<int> (1, 1) })
    {
        InstrumentButton button (0);
        button.icon = iconImage();
        button.selected = true;
        button.setSize (size.x, size.y);
        (void) renderComponent (button);
    }
}
