#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <utility>

// One instrument of the selector row: pictogram, caption and a glow in the instrument's colour.
// The editor decides which button is selected; a press only reports the button's index.
class InstrumentButton : public juce::Component
{
public:
    // Its caption, colour and pictogram come from the instrument's look.
    explicit InstrumentButton (int instrumentIndex);

    // One button per instrument, in table order (the buttons can be neither copied nor moved).
    template <size_t... index>
    static std::array<InstrumentButton, sizeof... (index)> row (std::index_sequence<index...>)
    {
        return { InstrumentButton ((int) index)... };
    }

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

    bool selected = false;
    const int index;
    const juce::String label;
    juce::Image icon;
    std::function<void (int)> onClick;
    bool hovered = false;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InstrumentButton)
};
