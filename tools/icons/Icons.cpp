// Draws the instrument pictograms for the editor's buttons: 64 x 64 pixels, glowing purple and pink
// outlines on a near-black ground, written as 8-bit RGB PNGs without alpha.
// Usage: kestrune_icons OUTPUT_DIR
#include <juce_graphics/juce_graphics.h>

#include <cmath>
#include <functional>
#include <iostream>

namespace
{
constexpr int iconSize = 64;
const juce::Colour ground (0xff0c0912);
const juce::Colour purple (0xffa25cff);
const juce::Colour pink (0xffff63d0);

// A line drawn three times, wide and faint first, so it glows like a lit trace on a dark screen.
void glow (juce::Graphics& g, const juce::Path& path, juce::Colour colour, float thickness)
{
    g.setColour (colour.withAlpha (0.18f));
    g.strokePath (path, juce::PathStrokeType (thickness * 3.2f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    g.setColour (colour.withAlpha (0.35f));
    g.strokePath (path, juce::PathStrokeType (thickness * 1.9f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    g.setColour (colour);
    g.strokePath (path, juce::PathStrokeType (thickness, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

void shape (juce::Graphics& g, const juce::Path& path, juce::Colour fill, juce::Colour outline, float thickness)
{
    g.setColour (fill.withAlpha (0.28f));
    g.fillPath (path);
    glow (g, path, outline, thickness);
}

juce::Path line (float x1, float y1, float x2, float y2)
{
    juce::Path p;
    p.startNewSubPath (x1, y1);
    p.lineTo (x2, y2);
    return p;
}

void dot (juce::Graphics& g, float x, float y, float radius, juce::Colour colour)
{
    g.setColour (colour.withAlpha (0.3f));
    g.fillEllipse (x - radius * 1.8f, y - radius * 1.8f, radius * 3.6f, radius * 3.6f);
    g.setColour (colour);
    g.fillEllipse (x - radius, y - radius, radius * 2.0f, radius * 2.0f);
}

void drawBagpipe (juce::Graphics& g)
{
    // Three drones over the shoulder, each with a pink stock at its top.
    const float drones[][4] = { { 30, 28, 42, 6 }, { 35, 30, 52, 9 }, { 39, 34, 59, 18 } };
    for (const auto& d : drones)
    {
        glow (g, line (d[0], d[1], d[2], d[3]), purple, 2.4f);
        dot (g, d[2], d[3], 2.2f, pink);
    }

    juce::Path bag;
    bag.addEllipse (-15.0f, -10.5f, 30.0f, 21.0f);
    bag.applyTransform (juce::AffineTransform::rotation (-0.45f).translated (29.0f, 38.0f));
    shape (g, bag, purple, pink, 2.0f);

    glow (g, line (19.0f, 33.0f, 7.0f, 17.0f), purple, 2.0f);   // blowpipe
    glow (g, line (24.0f, 47.0f, 17.0f, 61.0f), purple, 3.0f);  // chanter
    for (float t : { 0.35f, 0.6f, 0.85f })
        dot (g, 24.0f - 7.0f * t, 47.0f + 14.0f * t, 0.9f, pink);
}

void drawRecorder (juce::Graphics& g)
{
    const auto toIcon = juce::AffineTransform::rotation (0.62f).translated (32.0f, 32.0f);

    juce::Path body;
    body.addRoundedRectangle (-3.6f, -25.0f, 7.2f, 47.0f, 2.5f);
    body.startNewSubPath (-3.6f, 22.0f); // bell
    body.lineTo (-6.0f, 28.0f);
    body.lineTo (6.0f, 28.0f);
    body.lineTo (3.6f, 22.0f);
    body.applyTransform (toIcon);
    shape (g, body, purple, purple, 2.0f);

    juce::Path beak;
    beak.startNewSubPath (-3.6f, -25.0f);
    beak.quadraticTo (0.0f, -31.0f, 3.6f, -25.0f);
    beak.applyTransform (toIcon);
    glow (g, beak, pink, 2.0f);

    juce::Path window;
    window.addRectangle (-2.0f, -18.0f, 4.0f, 3.0f);
    window.applyTransform (toIcon);
    g.setColour (pink);
    g.fillPath (window);

    for (float y : { -6.0f, -0.5f, 5.0f, 10.5f, 16.0f })
    {
        float x = 0.0f, yy = y;
        toIcon.transformPoint (x, yy);
        dot (g, x, yy, 1.3f, pink);
    }
}

void drawHarp (juce::Graphics& g)
{
    const juce::Point<float> columnTop (13.0f, 12.0f), columnFoot (13.0f, 58.0f);
    const juce::Point<float> neckControl (30.0f, -2.0f), neckEnd (52.0f, 16.0f);

    auto neckAt = [&] (float t)
    {
        const auto u = 1.0f - t;
        return columnTop * (u * u) + neckControl * (2.0f * u * t) + neckEnd * (t * t);
    };

    // Strings first, so the frame is drawn over their ends.
    for (float t = 0.2f; t < 0.95f; t += 0.125f)
    {
        const auto top = neckAt (t);
        const auto bottomY = neckEnd.y + (neckEnd.x - top.x) * (columnFoot.y - neckEnd.y) / (neckEnd.x - columnFoot.x - 4.0f);
        g.setColour (pink.withAlpha (0.75f));
        g.drawLine (top.x, top.y + 1.5f, top.x, bottomY, 1.0f);
    }

    juce::Path neck;
    neck.startNewSubPath (columnTop);
    neck.quadraticTo (neckControl, neckEnd);
    glow (g, neck, purple, 3.0f);
    glow (g, line (neckEnd.x, neckEnd.y, columnFoot.x + 4.0f, columnFoot.y), pink, 3.4f); // soundboard
    glow (g, line (columnTop.x, columnTop.y, columnFoot.x, columnFoot.y), purple, 3.4f); // column
    dot (g, columnTop.x, columnTop.y - 1.0f, 2.4f, pink);
}

void drawGuitar (juce::Graphics& g)
{
    const auto toIcon = juce::AffineTransform::scale (0.86f).rotated (0.6f).translated (30.0f, 34.0f);

    juce::Path body;
    body.startNewSubPath (0.0f, -16.0f);
    body.cubicTo (8.0f, -16.0f, 10.0f, -9.0f, 8.0f, -4.0f);
    body.cubicTo (6.0f, 0.0f, 14.0f, 2.0f, 14.0f, 10.0f);
    body.cubicTo (14.0f, 20.0f, 6.0f, 23.0f, 0.0f, 23.0f);
    body.cubicTo (-6.0f, 23.0f, -14.0f, 20.0f, -14.0f, 10.0f);
    body.cubicTo (-14.0f, 2.0f, -6.0f, 0.0f, -8.0f, -4.0f);
    body.cubicTo (-10.0f, -9.0f, -8.0f, -16.0f, 0.0f, -16.0f);
    body.closeSubPath();

    juce::Path neck;
    neck.addRectangle (-2.6f, -35.0f, 5.2f, 19.0f);
    juce::Path head;
    head.addRoundedRectangle (-4.0f, -42.0f, 8.0f, 7.5f, 1.5f);

    juce::Path hole;
    hole.addEllipse (-4.2f, -2.2f, 8.4f, 8.4f);

    juce::Path strings;
    for (float x : { -1.2f, 1.2f })
    {
        strings.startNewSubPath (x, 14.0f);
        strings.lineTo (x, -36.0f);
    }

    for (auto* p : { &body, &neck, &head, &hole, &strings })
        p->applyTransform (toIcon);

    shape (g, body, purple, pink, 2.0f);
    shape (g, neck, purple, purple, 1.6f);
    shape (g, head, pink, pink, 1.6f);
    g.setColour (ground);
    g.fillPath (hole);
    glow (g, hole, purple, 1.4f);
    g.setColour (pink.withAlpha (0.8f));
    g.strokePath (strings, juce::PathStrokeType (0.8f));
}

void drawOrganPipes (juce::Graphics& g)
{
    const float heights[] = { 20, 29, 37, 44, 37, 29, 20 };
    const float baseY = 50.0f, width = 5.6f, pitch = 7.6f;
    const float left = 32.0f - 3.0f * pitch - width * 0.5f;

    for (int i = 0; i < 7; ++i)
    {
        const auto x = left + (float) i * pitch;
        juce::Path pipe;
        pipe.addRectangle (x, baseY - heights[i], width, heights[i]);
        shape (g, pipe, purple, purple, 1.6f);

        juce::Path mouth; // the pipe's mouth, a little above the foot
        mouth.startNewSubPath (x + 1.2f, baseY - 6.0f);
        mouth.lineTo (x + width * 0.5f, baseY - 9.0f);
        mouth.lineTo (x + width - 1.2f, baseY - 6.0f);
        glow (g, mouth, pink, 1.2f);
    }

    juce::Path base;
    base.addRoundedRectangle (7.0f, baseY, 50.0f, 8.0f, 1.5f);
    shape (g, base, pink, pink, 1.8f);
}

void drawHorn (juce::Graphics& g)
{
    juce::Path coil;
    coil.addEllipse (12.0f, 20.0f, 32.0f, 32.0f);
    glow (g, coil, purple, 3.0f);

    juce::Path inner;
    inner.addEllipse (19.0f, 27.0f, 18.0f, 18.0f);
    glow (g, inner, purple, 1.6f);

    juce::Path bell;
    bell.startNewSubPath (38.0f, 25.0f);
    bell.quadraticTo (47.0f, 19.0f, 47.0f, 6.0f);
    bell.lineTo (61.0f, 20.0f);
    bell.quadraticTo (48.0f, 20.0f, 42.0f, 29.0f);
    bell.closeSubPath();
    shape (g, bell, pink, pink, 1.8f);

    glow (g, line (16.0f, 47.0f, 6.0f, 58.0f), purple, 2.0f); // lead pipe
    dot (g, 6.0f, 58.0f, 2.2f, pink);                        // mouthpiece
}

void drawHoodedFigure (juce::Graphics& g)
{
    juce::Path robe;
    robe.startNewSubPath (32.0f, 5.0f);
    robe.cubicTo (46.0f, 7.0f, 50.0f, 22.0f, 47.0f, 34.0f);
    robe.lineTo (56.0f, 59.0f);
    robe.lineTo (8.0f, 59.0f);
    robe.lineTo (17.0f, 34.0f);
    robe.cubicTo (14.0f, 22.0f, 18.0f, 7.0f, 32.0f, 5.0f);
    robe.closeSubPath();
    shape (g, robe, purple, purple, 2.0f);

    juce::Path face; // the hood's opening: the face stays in shadow
    face.startNewSubPath (32.0f, 15.0f);
    face.cubicTo (40.0f, 17.0f, 42.0f, 29.0f, 38.0f, 37.0f);
    face.quadraticTo (32.0f, 40.0f, 26.0f, 37.0f);
    face.cubicTo (22.0f, 29.0f, 24.0f, 17.0f, 32.0f, 15.0f);
    face.closeSubPath();
    g.setColour (ground);
    g.fillPath (face);
    glow (g, face, pink, 1.6f);

    dot (g, 29.0f, 27.0f, 1.1f, pink);
    dot (g, 35.0f, 27.0f, 1.1f, pink);

    juce::Path cord; // a rope belt with its knotted end hanging down
    cord.startNewSubPath (14.0f, 46.0f);
    cord.quadraticTo (32.0f, 50.0f, 50.0f, 46.0f);
    cord.startNewSubPath (26.0f, 48.5f);
    cord.lineTo (24.0f, 57.0f);
    glow (g, cord, pink, 1.6f);
    dot (g, 24.0f, 57.0f, 1.4f, pink);
}

struct Icon
{
    const char* fileName;
    std::function<void (juce::Graphics&)> draw;
};

bool writeIcon (const juce::File& dir, const Icon& icon)
{
    // An RGB image (no alpha channel), which PNGImageFormat writes as colour type 2.
    juce::Image image (juce::Image::RGB, iconSize, iconSize, true);
    {
        juce::Graphics g (image);
        g.fillAll (ground);
        icon.draw (g);
    }

    const auto file = dir.getChildFile (icon.fileName);
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 2)
    {
        std::cerr << "usage: kestrune_icons OUTPUT_DIR\n";
        return 2;
    }

    const juce::File dir (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const Icon icons[] = {
        { "icon_kestrune_bagpipe_64.png", drawBagpipe },
        { "icon_wooden_recorder_64.png", drawRecorder },
        { "icon_celtic_harp_64.png", drawHarp },
        { "icon_kestrune_lute_64.png", drawGuitar },
        { "icon_gothic_pipe_64.png", drawOrganPipes },
        { "icon_kestrune_brass_64.png", drawHorn },
        { "icon_hooded_monk_64.png", drawHoodedFigure },
    };

    for (const auto& icon : icons)
    {
        if (! writeIcon (dir, icon))
        {
            std::cerr << "cannot write " << icon.fileName << " in " << dir.getFullPathName() << "\n";
            return 1;
        }
        std::cout << icon.fileName << "\n";
    }
    return 0;
}
