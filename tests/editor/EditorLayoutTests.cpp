#include "EditorTestSupport.h"

namespace
{
    using R = juce::Rectangle<int>;

    enum class Window { fresh, keyboardShown, keyboardHidden };

    struct WindowCase
    {
        const char* name;
        Window window;
        int height;   // the keyboard's strip adds 60 pixels; a fresh window keeps room for it
    };

    const WindowCase windowCases[] = {
        { "fresh", Window::fresh, 540 },
        { "keyboard shown", Window::keyboardShown, 540 },
        { "keyboard hidden", Window::keyboardHidden, 480 },
    };
}

class EditorLayout : public EditorFixture
{
protected:
    // The controls a user clicks or drags, each with a name for the failure message.
    std::vector<std::pair<juce::String, juce::Component*>> visibleControls()
    {
        std::vector<std::pair<juce::String, juce::Component*>> controls;
        for (int i = 0; i < numInstruments; ++i)
            controls.emplace_back ("button " + juce::String (i), &probe->button (i));
        const auto knobs = probe->knobs();
        for (size_t k = 0; k < knobs.size(); ++k)
            controls.emplace_back ("knob " + juce::String ((int) k), knobs[k]);
        controls.emplace_back ("DRONE", &probe->drone());
        controls.emplace_back ("FOCUS", &probe->focus());
        controls.emplace_back ("KEYS", &probe->keys());
        controls.emplace_back ("keyboard", &probe->keyboard());
        controls.emplace_back ("TUNING", &probe->tuning());

        std::vector<std::pair<juce::String, juce::Component*>> visible;
        for (auto& c : controls)
            if (c.second->isVisible() && ! c.second->getBounds().isEmpty())
                visible.push_back (c);
        return visible;
    }
};

// Whatever the instrument and whether the keyboard is shown: every control lies inside the window,
// none covers another, each caption sits above its own knob, and the DRONE switch is there only
// under an instrument with a drone, above the knobs.
TEST_F (EditorLayout, ControlsStayInsideTheWindowAndApartInEveryState)
{
    for (const auto& c : windowCases)
    {
        for (int instrument = 0; instrument < numInstruments; ++instrument)
        {
            SCOPED_TRACE (juce::String (c.name) + ", instrument " + juce::String (instrument));
            setInstrumentFromHost (processor, instrument);
            openEditor();
            if (c.window != Window::fresh)
                probe->setKeys (true);
            if (c.window == Window::keyboardHidden)
                probe->setKeys (false);

            const auto window = editor->getLocalBounds();
            EXPECT_EQ (window, R (0, 0, 720, c.height));
            EXPECT_EQ (probe->overlay().getBounds(), window);

            const auto controls = visibleControls();
            for (size_t i = 0; i < controls.size(); ++i)
            {
                EXPECT_TRUE (window.contains (controls[i].second->getBounds())) << controls[i].first;
                for (size_t j = i + 1; j < controls.size(); ++j)
                    EXPECT_FALSE (controls[i].second->getBounds().intersects (controls[j].second->getBounds()))
                        << controls[i].first << " and " << controls[j].first;
            }

            const auto knobs = probe->knobs();
            const auto captions = probe->labels();
            for (size_t k = 0; k < knobs.size(); ++k)
            {
                const auto caption = captions[k]->getBounds();
                EXPECT_EQ (caption.getBottom(), knobs[k]->getY()) << "caption " << k;
                EXPECT_EQ (caption.getX(), knobs[k]->getX());
                EXPECT_EQ (caption.getWidth(), knobs[k]->getWidth());
                if (k > 0)
                    EXPECT_EQ (knobs[k]->getX(), knobs[k - 1]->getRight()) << "knobs side by side, left to right";
            }
            for (int i = 1; i < numInstruments; ++i)
                EXPECT_LT (probe->button (i - 1).getRight(), probe->button (i).getX()) << "buttons in the table's order";

            EXPECT_EQ (probe->drone().isVisible(), hasDrone (instrument));
            if (hasDrone (instrument))
                EXPECT_LE (probe->drone().getBottom(), captions[0]->getY());

            // The keyboard takes the window's whole width at its foot; hidden, it keeps no room.
            EXPECT_EQ (probe->keyboard().isVisible(), c.window != Window::keyboardHidden);
            if (c.window == Window::keyboardShown)
                EXPECT_EQ (probe->keyboard().getBounds(), R (0, window.getBottom() - 60, 720, 60));
            EXPECT_LE (probe->keys().getBottom(), c.window == Window::keyboardShown ? window.getBottom() - 60 : window.getBottom());

            EXPECT_TRUE (probe->instrumentBox().getBounds().isEmpty());
            EXPECT_FALSE (probe->instrumentBox().isVisible());

            editor.reset();
        }
    }
}

// The division's remainder goes to the last button and the last knob, so the rows end where they
// start from the window's edges, whatever the width.
TEST_F (EditorLayout, RowsSpanTheWindowSymmetricallyAtAnyWidth)
{
    openEditor();
    for (const int width : { 720, 727, 733 })
    {
        SCOPED_TRACE (width);
        editor->setSize (width, 540);

        const auto& first = probe->button (0);
        const auto& last = probe->button (numInstruments - 1);
        EXPECT_EQ (first.getX(), width - last.getRight());
        EXPECT_GE (last.getWidth(), first.getWidth());
        EXPECT_LT (last.getWidth(), first.getWidth() + numInstruments);

        const auto knobs = probe->knobs();
        EXPECT_EQ (knobs.front()->getX(), width - knobs.back()->getRight());
        EXPECT_GE (knobs.back()->getWidth(), knobs.front()->getWidth());
        EXPECT_LT (knobs.back()->getWidth(), knobs.front()->getWidth() + (int) knobs.size());
    }
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
    expected.push_back (&probe->tuning());

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
