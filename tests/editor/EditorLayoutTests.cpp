#include "EditorTestSupport.h"

namespace
{
    using R = juce::Rectangle<int>;

    enum class Window { fresh540, keyboardShown, keyboardHidden480 };

    struct LayoutCase
    {
        const char* name;
        Window window;
        int instrument;          // 0 shows the DRONE switch, any other hides it
        int height;
        R keys, focus, keyboard;
        int knobY, knobHeight, captionY;
    };

    const LayoutCase layoutCases[] = {
        { "fresh, drone",          Window::fresh540,          0, 540, { 660, 522, 50, 16 }, { 596, 522, 58, 16 }, {},                   224, 288, 208 },
        { "fresh, no drone",       Window::fresh540,          2, 540, { 660, 522, 50, 16 }, { 596, 522, 58, 16 }, {},                   186, 326, 170 },
        { "keyboard, drone",       Window::keyboardShown,     0, 540, { 660, 462, 50, 16 }, { 596, 462, 58, 16 }, { 0, 480, 720, 60 },  224, 228, 208 },
        { "keyboard, no drone",    Window::keyboardShown,     5, 540, { 660, 462, 50, 16 }, { 596, 462, 58, 16 }, { 0, 480, 720, 60 },  186, 266, 170 },
        { "480 hidden, drone",     Window::keyboardHidden480, 0, 480, { 660, 462, 50, 16 }, { 596, 462, 58, 16 }, { 0, 480, 720, 60 },  224, 228, 208 },
        { "480 hidden, no drone",  Window::keyboardHidden480, 7, 480, { 660, 462, 50, 16 }, { 596, 462, 58, 16 }, { 0, 480, 720, 60 },  186, 266, 170 },
    };
}

class EditorLayout : public EditorFixture {};

TEST_F (EditorLayout, BoundsTableForEveryWindowState)
{
    for (const auto& c : layoutCases)
    {
        SCOPED_TRACE (c.name);
        setInstrumentFromHost (processor, c.instrument);
        openEditor();

        if (c.window != Window::fresh540)
            probe->setKeys (true);
        if (c.window == Window::keyboardHidden480)
            probe->setKeys (false);

        EXPECT_EQ (editor->getBounds(), R (0, 0, 720, c.height));
        EXPECT_EQ (probe->keys().getBounds(), c.keys);
        EXPECT_EQ (probe->focus().getBounds(), c.focus);
        EXPECT_EQ (probe->keyboard().getBounds(), c.keyboard);   // a hidden keyboard keeps its last bounds
        EXPECT_EQ (probe->keyboard().isVisible(), c.window != Window::keyboardHidden480);   // fresh: visible, no area
        EXPECT_EQ (probe->overlay().getBounds(), R (0, 0, 720, c.height));

        for (int i = 0; i < numInstruments; ++i)
            EXPECT_EQ (probe->button (i).getBounds(), R (18 + 86 * i, 66, 82, 86)) << "button " << i;

        EXPECT_EQ (probe->drone().isVisible(), hasDrone (c.instrument));
        if (hasDrone (c.instrument))
        {
            EXPECT_EQ (probe->drone().getBounds(), R (16, 170, 150, 30));
        }

        for (int k = 0; k < 7; ++k)
        {
            const int x = 16 + 98 * k;
            const int w = k == 6 ? 100 : 98;   // REVERB takes the remainder of 688 / 7
            EXPECT_EQ (probe->labels()[(size_t) k]->getBounds(), R (x, c.captionY, w, 16)) << "caption " << k;
            EXPECT_EQ (probe->knobs()[(size_t) k]->getBounds(), R (x, c.knobY, w, c.knobHeight)) << "knob " << k;
        }

        EXPECT_TRUE (probe->instrumentBox().getBounds().isEmpty());
        EXPECT_FALSE (probe->instrumentBox().isVisible());

        editor.reset();
    }
}

TEST_F (EditorLayout, LastButtonAndReverbColumnAbsorbTheRemainder)
{
    openEditor();
    editor->setSize (727, 540);   // working width 695: 8 × 86 + 7 and 7 × 99 + 2

    for (int i = 0; i < 7; ++i)
        EXPECT_EQ (probe->button (i).getWidth(), 82);
    EXPECT_EQ (probe->button (7).getBounds(), R (18 + 86 * 7, 66, 89, 86));

    for (int k = 0; k < 6; ++k)
        EXPECT_EQ (probe->knobs()[(size_t) k]->getWidth(), 99);
    EXPECT_EQ (probe->knobs()[6]->getBounds().getX(), 16 + 6 * 99);
    EXPECT_EQ (probe->knobs()[6]->getWidth(), 101);
    EXPECT_EQ (probe->labels()[6]->getWidth(), 101);
}

TEST_F (EditorLayout, TinyWindowLaysOutWithoutNegativeSizes)
{
    openEditor();
    for (const auto size : { juce::Point<int> (0, 0), juce::Point<int> (30, 20), juce::Point<int> (100, 90) })
    {
        editor->setSize (size.x, size.y);
        for (auto* child : editor->getChildren())
        {
            EXPECT_GE (child->getWidth(), 0);
            EXPECT_GE (child->getHeight(), 0);
        }
        (void) renderComponent (*editor);
    }
}

TEST_F (EditorLayout, StackingOrderPutsOverlayBetweenCaptionsAndControls)
{
    openEditor();
    std::vector<juce::Component*> expected { &probe->instrumentBox() };
    for (auto* label : probe->labels())
        expected.push_back (label);
    expected.push_back (&probe->overlay());
    for (int i = 0; i < numInstruments; ++i)
        expected.push_back (&probe->button (i));
    expected.push_back (&probe->drone());
    for (auto* knob : probe->knobs())
        expected.push_back (knob);
    expected.push_back (&probe->keyboard());
    expected.push_back (&probe->keys());
    expected.push_back (&probe->focus());

    const auto& children = editor->getChildren();
    ASSERT_EQ (children.size(), (int) expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ (children[(int) i], expected[i]) << "stacking position " << i + 1;
}

TEST_F (EditorLayout, OverlayLetsClicksThroughToWhatLiesBeneath)
{
    openEditor();
    editor->setVisible (true);
    bool self = true, children = true;
    probe->overlay().getInterceptsMouseClicks (self, children);
    EXPECT_FALSE (self || children);

    // Over a caption and over the bare background the overlay is the topmost child, yet hit-testing
    // finds the caption and the editor itself.
    EXPECT_EQ (editor->getComponentAt (juce::Point<int> (60, 215)), probe->labels()[0]);
    EXPECT_EQ (editor->getComponentAt (juce::Point<int> (360, 20)), editor.get());
    EXPECT_EQ (editor->getComponentAt (probe->button (3).getBounds().getCentre()), &probe->button (3));
}
