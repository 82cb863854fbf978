#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>

#include "editor/CRTOverlay.h"
#include "editor/InstrumentButton.h"
#include "editor/LookAndFeel.h"
#include "core/ParameterTable.h"
#include "samplebank/Instrument.h"

#include <array>
#include <utility>

class KestruneProcessor;

namespace editorKnobs
{
// One knob per continuous parameter the table gives a caption, left to right in the table's order.
constexpr bool isKnob (const kestrune::ParameterRow& row) noexcept
{
    return row.kind == kestrune::ParameterKind::floating && row.caption != nullptr;
}

constexpr int count() noexcept
{
    int n = 0;
    for (const auto& row : kestrune::parameterTable)
        n += isKnob (row) ? 1 : 0;
    return n;
}
} // namespace editorKnobs

class KestruneEditor : public juce::AudioProcessorEditor, private juce::Timer
{
public:
    explicit KestruneEditor (KestruneProcessor&);
    ~KestruneEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;

    void selectInstrument (int index);

    // Loads a Scala scale, through a keyboard map when one is given (a default File: none), into the
    // processor; on an error nothing changes and the message is shown. Returns the error, or empty.
    juce::String loadTuning (const juce::File& scl, const juce::File& kbm);

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    static constexpr int numKnobs = editorKnobs::count();

    struct Knob
    {
        juce::Slider slider;
        juce::Label caption;
        std::unique_ptr<SliderAttachment> attachment;
    };

    struct Switch
    {
        juce::ToggleButton button;
        std::unique_ptr<ButtonAttachment> attachment;
    };

    void applyInstrumentColour();
    void setupKnob (Knob&, const kestrune::ParameterRow&);
    void setupSwitch (Switch&, kestrune::Parameter);
    void keysToggled();
    void showTuningMenu();
    void chooseTuningFiles (bool withKeyboardMap);
    void chooseKeyboardMap (const juce::File& scl);
    void showTuningName();

    KestruneProcessor& processorRef;
    ZarnithLookAndFeel editorLookAndFeel;

    std::array<InstrumentButton, numInstruments> instrumentButtons = InstrumentButton::row (std::make_index_sequence<numInstruments>());
    int currentInstrument = 0;

    std::array<Knob, numKnobs> knobs;
    Switch drone, focus;

    // Hidden: the buttons write the instrument parameter through it.
    juce::ComboBox instrumentBox;
    std::unique_ptr<ComboBoxAttachment> instrumentAttachment;
    const std::atomic<float>* instrumentValue = nullptr;

    CRTOverlay crtOverlay;

    juce::MidiKeyboardState keyboardState;
    juce::MidiKeyboardComponent keyboard { keyboardState, juce::MidiKeyboardComponent::horizontalKeyboard };
    juce::ToggleButton keysToggle;
    bool showKeyboard = false;

    // The tuning's name in the header; a click offers to load a scale or go back to equal temperament.
    juce::TextButton tuningButton;
    juce::String tuningName;
    std::unique_ptr<juce::FileChooser> tuningChooser;
    juce::ScopedMessageBox tuningError;

    // The painted ground depends only on size and instrument, while the overlay makes the window
    // redraw 30 times a second: keep the last rendering and blit it.
    juce::Image backgroundCache;
    int backgroundCacheInstrument = -1;

    friend struct EditorProbe;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KestruneEditor)
};
