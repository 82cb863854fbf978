#pragma once

#include <gtest/gtest.h>

#include "core/PluginProcessor.h"
#include "editor/PluginEditor.h"

#include <memory>
#include <vector>

// Reaches the editor's private members for inspection; the editor befriends this probe.
struct EditorProbe
{
    explicit EditorProbe (KestruneEditor& e) : editor (e) {}

    InstrumentButton& button (int i) { return editor.instrumentButtons[(size_t) i]; }
    // Knobs and their captions in screen order, left to right.
    std::vector<juce::Slider*> knobs()
    {
        std::vector<juce::Slider*> sliders;
        for (auto& knob : editor.knobs)
            sliders.push_back (&knob.slider);
        return sliders;
    }
    std::vector<juce::Label*> labels()
    {
        std::vector<juce::Label*> captions;
        for (auto& knob : editor.knobs)
            captions.push_back (&knob.caption);
        return captions;
    }
    juce::ToggleButton& drone() { return editor.drone.button; }
    juce::ToggleButton& focus() { return editor.focus.button; }
    juce::ToggleButton& keys() { return editor.keysToggle; }
    juce::TextButton& tuning() { return editor.tuningButton; }
    juce::ComboBox& instrumentBox() { return editor.instrumentBox; }
    CRTOverlay& overlay() { return editor.crtOverlay; }
    juce::MidiKeyboardComponent& keyboard() { return editor.keyboard; }
    juce::MidiKeyboardState& keyboardState() { return editor.keyboardState; }
    ZarnithLookAndFeel& lookAndFeel() { return editor.editorLookAndFeel; }
    int currentInstrument() const { return editor.currentInstrument; }
    void tick() { editor.timerCallback(); }

    void setKeys (bool on) { editor.keysToggle.setToggleState (on, juce::sendNotificationSync); }

    KestruneEditor& editor;
};

// The plug-in is built without modal loops, so runDispatchLoopUntil is absent: pump JUCE's own
// message queue (the function that loop uses on Linux) until the time is up.
namespace juce::detail { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

inline void pumpMessages (int ms = 50)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) ms;
    while (juce::Time::getMillisecondCounter() < end)
        if (! juce::detail::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
}

inline const char* idOf (kestrune::Parameter which) { return kestrune::parameterRow (which).id; }

inline void setInstrumentFromHost (KestruneProcessor& p, int index)
{
    auto* param = p.parameters.getParameter (idOf (kestrune::Parameter::instrument));
    param->setValueNotifyingHost (param->convertTo0to1 ((float) index));
}

inline int instrumentParameter (KestruneProcessor& p)
{
    return (int) p.parameters.getRawParameterValue (idOf (kestrune::Parameter::instrument))->load();
}

// A processor with an open editor, torn down in the host's order: editor first.
struct EditorFixture : public ::testing::Test
{
    void openEditor()
    {
        editor.reset (dynamic_cast<KestruneEditor*> (processor.createEditor()));
        ASSERT_NE (editor, nullptr);
        probe = std::make_unique<EditorProbe> (*editor);
    }

    void TearDown() override
    {
        probe.reset();
        editor.reset();
    }

    KestruneProcessor processor;
    std::unique_ptr<KestruneEditor> editor;
    std::unique_ptr<EditorProbe> probe;
};

inline juce::Image renderComponent (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
}

// Largest per-channel difference between two colours, alpha included.
inline int colourDistance (juce::Colour a, juce::Colour b)
{
    return juce::jmax (std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()),
                       std::abs (a.getBlue() - b.getBlue()), std::abs (a.getAlpha() - b.getAlpha()));
}

// Pixels inside `box` that differ from `ground` by more than `threshold` in some channel: glyphs drawn.
inline int countInkPixels (const juce::Image& image, juce::Rectangle<int> box, juce::Colour ground, int threshold = 24)
{
    int count = 0;
    box = box.getIntersection (image.getBounds());
    for (int y = box.getY(); y < box.getBottom(); ++y)
        for (int x = box.getX(); x < box.getRight(); ++x)
            if (colourDistance (image.getPixelAt (x, y), ground) > threshold)
                ++count;
    return count;
}
