#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>

#include "editor/CRTOverlay.h"
#include "editor/InstrumentButton.h"
#include "editor/LookAndFeel.h"
#include "samplebank/Instrument.h"

#include <array>
#include <utility>

class KestruneProcessor;

class KestruneEditor : public juce::AudioProcessorEditor, private juce::Timer
{
public:
    explicit KestruneEditor (KestruneProcessor&);
    ~KestruneEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;

    void selectInstrument (int index);

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    void applyInstrumentColour();
    void setupKnob (juce::Slider&, juce::Label&, const juce::String& caption, const juce::String& suffix);
    void keysToggled();

    // Knobs and their captions in screen order, left to right.
    std::array<juce::Slider*, 7> knobs();
    std::array<juce::Label*, 7> knobLabels();

    KestruneProcessor& processorRef;
    ZarnithLookAndFeel editorLookAndFeel;

    std::array<InstrumentButton, numInstruments> instrumentButtons = InstrumentButton::row (std::make_index_sequence<numInstruments>());
    int currentInstrument = 0;

    juce::Slider attackSlider, releaseSlider, brightnessSlider, volumeSlider, ornamentSlider, driftSlider, reverbSlider;
    juce::Label attackLabel, releaseLabel, brightnessLabel, volumeLabel, ornamentLabel, driftLabel, reverbLabel;
    juce::ToggleButton droneToggle;
    juce::ComboBox instrumentBox;

    std::unique_ptr<ComboBoxAttachment> instrumentAttachment;
    std::unique_ptr<SliderAttachment> attackAttachment, releaseAttachment, brightnessAttachment, volumeAttachment,
                                      ornamentAttachment, driftAttachment, reverbAttachment;
    std::unique_ptr<ButtonAttachment> droneAttachment;

    juce::ToggleButton focusToggle;
    std::unique_ptr<ButtonAttachment> focusAttachment;

    CRTOverlay crtOverlay;

    juce::MidiKeyboardState keyboardState;
    juce::MidiKeyboardComponent keyboard { keyboardState, juce::MidiKeyboardComponent::horizontalKeyboard };
    juce::ToggleButton keysToggle;
    bool showKeyboard = false;

    // The painted ground depends only on size and instrument, while the overlay makes the window
    // redraw 30 times a second: keep the last rendering and blit it.
    juce::Image backgroundCache;
    int backgroundCacheInstrument = -1;

    friend struct EditorProbe;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KestruneEditor)
};
