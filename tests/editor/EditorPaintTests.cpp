#include "EditorTestSupport.h"
#include "editor/Background.h"

namespace
{
    juce::Image paintBackgroundDirectly (int w, int h, int instrument)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        paintEditorBackground (g, w, h, instrument);
        return image;
    }

    juce::Image paintEditorOnly (KestruneEditor& editor)
    {
        juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
        juce::Graphics g (image);
        editor.paint (g);
        return image;
    }

    bool sameImages (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;
        const juce::Image::BitmapData da (a, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData db (b, juce::Image::BitmapData::readOnly);
        for (int y = 0; y < a.getHeight(); ++y)
            if (std::memcmp (da.getLinePointer (y), db.getLinePointer (y), (size_t) (a.getWidth() * da.pixelStride)) != 0)
                return false;
        return true;
    }

    juce::Colour over (juce::Colour ground, juce::Colour top) { return ground.overlaidWith (top); }
}

class EditorPaint : public EditorFixture {};

TEST_F (EditorPaint, HeaderLineFrameAndBracketsCarryTheAccent)
{
    for (const int instrument : { 0, 2, 7 })
    {
        SCOPED_TRACE (instrument);
        const auto a = instrumentColour (instrument);
        const auto image = paintBackgroundDirectly (720, 540, instrument);
        const auto bg = palette::backgroundColour;

        // Header edge at y 52: the glow strip then the line at 0x99, over the plain ground.
        const auto headerLine = over (over (bg, a.withAlpha ((juce::uint8) 0x0f)), a.withAlpha ((juce::uint8) 0x99));
        EXPECT_LE (colourDistance (image.getPixelAt (300, 52), headerLine), 3);

        // Left frame edge away from the brackets: the frame at 0x66 over the grid line at x 0.
        EXPECT_LE (colourDistance (image.getPixelAt (0, 300), over (palette::gridColour, a.withAlpha ((juce::uint8) 0x66))), 3);

        // Every corner bracket lies over the frame at 0x80, so it is brighter than the frame beside it.
        const juce::Point<int> bracket[] = { { 8, 0 }, { 0, 8 }, { 711, 0 }, { 719, 8 }, { 8, 539 }, { 0, 531 }, { 711, 539 }, { 719, 531 } };
        const juce::Point<int> plainFrame[] = { { 200, 0 }, { 0, 200 }, { 500, 0 }, { 719, 200 }, { 200, 539 }, { 0, 300 }, { 500, 539 }, { 719, 300 } };
        for (size_t i = 0; i < std::size (bracket); ++i)
            EXPECT_GT (image.getPixelAt (bracket[i].x, bracket[i].y).getPerceivedBrightness(),
                       image.getPixelAt (plainFrame[i].x, plainFrame[i].y).getPerceivedBrightness() + 0.05f)
                << "corner bracket " << i;

        // Between grid lines inside the window: untouched ground.
        EXPECT_EQ (image.getPixelAt (300, 300), bg);
    }
}

TEST_F (EditorPaint, TextsDrawGlyphs)
{
    const auto image = paintBackgroundDirectly (720, 540, 0);
    const auto header = over (palette::backgroundColour, palette::headerColour);
    const auto bg = palette::backgroundColour;

    EXPECT_GT (countInkPixels (image, { 0, 10, 720, 34 }, header), 300) << "title";
    EXPECT_GT (countInkPixels (image, { 10, 4, 250, 12 }, header), 40) << "subtitle";
    EXPECT_GT (countInkPixels (image, { 660, 4, 50, 12 }, header), 10) << "version";
    EXPECT_GT (countInkPixels (image, { 24, 148, 120, 10 }, bg), 30) << "section caption";
    EXPECT_GT (countInkPixels (image, { 540, 148, 160, 10 }, bg), 30) << "mod-wheel hint";
    EXPECT_GT (countInkPixels (image, { 10, 522, 700, 14 }, bg, 16), 60) << "credit line";

    // The mod-wheel hint names tremolo only for RHODES.
    EXPECT_EQ (modWheelHint (rhodes), "MOD WHEEL = TREMOLO");
    EXPECT_EQ (modWheelHint (bagpipes), "MOD WHEEL = TRILL");
    EXPECT_FALSE (sameImages (paintBackgroundDirectly (720, 540, chant).getClippedImage ({ 540, 148, 160, 10 }),
                              paintBackgroundDirectly (720, 540, rhodes).getClippedImage ({ 540, 148, 160, 10 })));
}

TEST_F (EditorPaint, BottomElementsFollowTheHeight)
{
    const auto image = paintBackgroundDirectly (720, 480, 3);
    EXPECT_GT (countInkPixels (image, { 10, 462, 700, 14 }, palette::backgroundColour, 16), 60);
    EXPECT_GT (image.getPixelAt (8, 479).getPerceivedBrightness(), image.getPixelAt (200, 479).getPerceivedBrightness());
}

TEST_F (EditorPaint, NarrowWindowsPaintWithoutFailing)
{
    for (const int w : { 0, 1, 16, 40, 41 })
        (void) paintBackgroundDirectly (juce::jmax (1, w), 30, 1);
}

TEST_F (EditorPaint, CachedBackgroundIsIdenticalToDirectPainting)
{
    openEditor();
    const auto check = [this] (const char* when)
    {
        SCOPED_TRACE (when);
        const auto expected = paintBackgroundDirectly (editor->getWidth(), editor->getHeight(), probe->currentInstrument());
        EXPECT_TRUE (sameImages (paintEditorOnly (*editor), expected));
        EXPECT_TRUE (sameImages (paintEditorOnly (*editor), expected)) << "second paint, from the cache";
    };

    check ("opened");
    editor->selectInstrument (rhodes);
    check ("after an instrument change");
    probe->setKeys (true);
    probe->setKeys (false);
    check ("after the window shrank to 480");
    editor->selectInstrument (0);
    check ("after another instrument change");
}

TEST_F (EditorPaint, KnobCaptionsAndButtonCaptionsDrawGlyphs)
{
    openEditor();
    const auto image = renderComponent (*editor);
    for (auto* label : probe->labels())
        EXPECT_GT (countInkPixels (image, label->getBounds(), palette::backgroundColour, 30), 15) << label->getText();

    for (int i = 0; i < numInstruments; ++i)
    {
        auto& button = probe->button (i);
        const auto buttonImage = renderComponent (button);
        const float h = (float) button.getHeight() - 4.0f;
        const int captionTop = (int) (h - 8.0f + 6.0f - 0.28f * h);
        EXPECT_GT (countInkPixels (buttonImage, { 6, captionTop, button.getWidth() - 12, (int) (0.28f * h) },
                                   juce::Colours::transparentBlack, 40), 20) << button.label;
    }
}
