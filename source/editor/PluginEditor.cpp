#include "editor/PluginEditor.h"
#include "editor/Background.h"
#include "editor/InstrumentLooks.h"
#include "core/PluginProcessor.h"

#include "BinaryData.h"

namespace
{
    constexpr int editorWidth = 720;
    constexpr int heightWithKeyboard = 540;
    constexpr int heightWithoutKeyboard = 480;
    constexpr int keyboardHeight = 60;
    constexpr int chooserFlags = juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles;
}

KestruneEditor::KestruneEditor (KestruneProcessor& p)
    : AudioProcessorEditor (p), processorRef (p)
{
    setLookAndFeel (&editorLookAndFeel);
    setSize (editorWidth, heightWithKeyboard);

    processorRef.setEditorKeyboardState (&keyboardState);

    keyboard.setMidiChannel (1);
    keyboard.setOctaveForMiddleC (4);
    keyboard.setColour (juce::MidiKeyboardComponent::whiteNoteColourId, palette::whiteKeyColour);
    keyboard.setColour (juce::MidiKeyboardComponent::blackNoteColourId, palette::backgroundColour);
    keyboard.setColour (juce::MidiKeyboardComponent::keySeparatorLineColourId, palette::keySeparatorColour);
    keyboard.setColour (juce::MidiKeyboardComponent::mouseOverKeyOverlayColourId,
                        withAlphaByte (palette::defaultAccentColour, 0x26));
    keyboard.setColour (juce::MidiKeyboardComponent::keyDownOverlayColourId,
                        withAlphaByte (palette::defaultAccentColour, 0x4c));
    keyboard.setKeyWidth (18.0f);
    keyboard.setAvailableRange (36, 96);
    addAndMakeVisible (keyboard);

    keysToggle.setButtonText ("KEYS");
    addAndMakeVisible (keysToggle);
    keysToggle.onClick = [this] { keysToggled(); };

    tuningButton.setColour (juce::TextButton::buttonColourId, juce::Colours::transparentBlack);
    tuningButton.setColour (juce::ComboBox::outlineColourId, juce::Colours::transparentBlack);
    tuningButton.setTooltip ("Load a Scala scale (.scl, with an optional .kbm keyboard map) or return to 12-TET");
    tuningButton.onClick = [this] { showTuningMenu(); };
    addAndMakeVisible (tuningButton);
    showTuningName();

    for (const auto& row : instrumentTable)
        instrumentBox.addItem (row.name, row.id + 1);
    addChildComponent (instrumentBox);

    for (auto& button : instrumentButtons)
    {
        if (const auto& icon = instrumentLooks[button.index].icon; icon.data != nullptr)
            button.icon = juce::ImageCache::getFromMemory (*icon.data, icon.size);
        addAndMakeVisible (button);
        button.onClick = [this] (int index) { selectInstrument (index); };
    }

    auto knob = knobs.begin();
    for (const auto& row : kestrune::parameterTable)
        if (editorKnobs::isKnob (row))
            setupKnob (*knob++, row);

    setupSwitch (drone, kestrune::Parameter::droneOn);
    setupSwitch (focus, kestrune::Parameter::focusMode);

    const auto* instrumentId = kestrune::parameterRow (kestrune::Parameter::instrument).id;
    instrumentAttachment = std::make_unique<ComboBoxAttachment> (processorRef.parameters, instrumentId, instrumentBox);
    instrumentValue = processorRef.parameters.getRawParameterValue (instrumentId);

    addAndMakeVisible (crtOverlay);
    crtOverlay.setInterceptsMouseClicks (false, false);

    // The overlay covers the painting and the captions; everything that takes clicks lies above it.
    for (auto& button : instrumentButtons)
        button.toFront (false);
    drone.button.toFront (false);
    for (auto& k : knobs)
        k.slider.toFront (false);
    keyboard.toFront (false);
    keysToggle.toFront (false);
    focus.button.toFront (false);
    tuningButton.toFront (false);

    currentInstrument = (int) instrumentValue->load();
    selectInstrument (currentInstrument);

    startTimer (100);
}

KestruneEditor::~KestruneEditor()
{
    // Returns only once no audio block can still be merging our keyboard state.
    processorRef.setEditorKeyboardState (nullptr);
    setLookAndFeel (nullptr);
}

void KestruneEditor::setupKnob (Knob& knob, const kestrune::ParameterRow& row)
{
    // Seconds are spaced from their number, a percentage is not.
    const auto unit = juce::String (row.unit);
    const auto suffix = unit.isEmpty() || unit == "%" ? unit : " " + unit;

    auto& slider = knob.slider;
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 70, 18);
    slider.setColour (juce::Slider::textBoxTextColourId, palette::defaultAccentColour);
    slider.setColour (juce::Slider::textBoxOutlineColourId, juce::Colours::transparentBlack);
    slider.setTextValueSuffix (suffix);
    addAndMakeVisible (slider);

    auto& label = knob.caption;
    label.setText (row.caption, juce::dontSendNotification);
    label.setFont (monoFont (11.0f, juce::Font::bold));
    label.setColour (juce::Label::textColourId, palette::knobLabelColour);
    label.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (label);

    knob.attachment = std::make_unique<SliderAttachment> (processorRef.parameters, row.id, slider);
}

void KestruneEditor::setupSwitch (Switch& s, kestrune::Parameter which)
{
    const auto& row = kestrune::parameterRow (which);
    s.button.setButtonText (row.caption);
    addAndMakeVisible (s.button);
    s.attachment = std::make_unique<ButtonAttachment> (processorRef.parameters, row.id, s.button);
}

void KestruneEditor::keysToggled()
{
    showKeyboard = keysToggle.getToggleState();
    keyboard.setVisible (showKeyboard);
    setSize (editorWidth, showKeyboard ? heightWithKeyboard : heightWithoutKeyboard);
    resized();   // the size may not have changed, yet the keyboard strip has
}

void KestruneEditor::showTuningName()
{
    const auto table = processorRef.getTuning();
    const auto name = juce::String::fromUTF8 (table.name);
    if (name == tuningName && tuningButton.getButtonText().isNotEmpty())
        return;

    tuningName = name;
    tuningButton.setButtonText ("TUNING://" + name.toUpperCase());
}

void KestruneEditor::showTuningMenu()
{
    juce::PopupMenu menu;
    menu.addItem ("Load scale (.scl)...", [this] { chooseTuningFiles (false); });
    menu.addItem ("Load scale with keyboard map (.scl, then .kbm)...", [this] { chooseTuningFiles (true); });
    menu.addSeparator();
    menu.addItem ("Reset to 12-TET A440", ! tuning::isDefault (processorRef.getTuning()), false, [this] {
        processorRef.setTuning (tuning::defaultTable());
        showTuningName();
    });
    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (tuningButton));
}

void KestruneEditor::chooseTuningFiles (bool withKeyboardMap)
{
    // The package installs its scales here; elsewhere the chooser starts at home.
    const juce::File shipped ("/usr/share/kestrune/tunings");
    const auto start = shipped.isDirectory() ? shipped : juce::File::getSpecialLocation (juce::File::userHomeDirectory);

    tuningChooser = std::make_unique<juce::FileChooser> ("Scala scale", start, "*.scl");
    tuningChooser->launchAsync (chooserFlags, [this, withKeyboardMap] (const juce::FileChooser& chosen) {
        const auto scl = chosen.getResult();
        if (scl == juce::File())
            return;

        if (! withKeyboardMap)
        {
            loadTuning (scl, {});
            return;
        }

        // The next chooser replaces this one, which must not be destroyed inside its own callback.
        juce::MessageManager::callAsync ([editor = juce::Component::SafePointer<KestruneEditor> (this), scl] {
            if (editor != nullptr)
                editor->chooseKeyboardMap (scl);
        });
    });
}

void KestruneEditor::chooseKeyboardMap (const juce::File& scl)
{
    tuningChooser = std::make_unique<juce::FileChooser> ("Keyboard map for " + scl.getFileName(), scl.getParentDirectory(), "*.kbm");
    tuningChooser->launchAsync (chooserFlags, [this, scl] (const juce::FileChooser& chosen) {
        if (chosen.getResult() != juce::File())
            loadTuning (scl, chosen.getResult());
    });
}

juce::String KestruneEditor::loadTuning (const juce::File& scl, const juce::File& kbm)
{
    const auto loaded = tuning::loadScala (scl, kbm);
    if (! loaded.ok())
    {
        const auto error = juce::String::fromUTF8 (loaded.error.c_str());
        tuningError = juce::AlertWindow::showScopedAsync (
            juce::MessageBoxOptions::makeOptionsOk (juce::MessageBoxIconType::WarningIcon, "Tuning not loaded", error),
            nullptr);
        return error;
    }

    processorRef.setTuning (loaded.value);
    showTuningName();
    return {};
}

void KestruneEditor::selectInstrument (int index)
{
    // Anything but an instrument would move the parameter to a wrong choice.
    if (! isInstrument (index))
        return;

    currentInstrument = index;
    // Written at once: were the parameter to follow later, a timer tick in between would read the
    // old value and take the editor back to it, and the click would be lost.
    instrumentBox.setSelectedId (index + 1, juce::sendNotificationSync);

    for (auto& button : instrumentButtons)
        button.selected = (button.index == index);

    // The drone sounds under some instruments only, so its switch only exists there.
    drone.button.setVisible (hasDrone (index));
    drone.button.setEnabled (hasDrone (index));

    applyInstrumentColour();

    for (auto& button : instrumentButtons)
        button.repaint();
    repaint();

    resized();
}

void KestruneEditor::applyInstrumentColour()
{
    const auto colour = instrumentColour (currentInstrument);
    editorLookAndFeel.accentColour = colour;

    tuningButton.setColour (juce::TextButton::textColourOffId, colour.withAlpha (0.8f));

    for (auto& knob : knobs)
    {
        knob.caption.setColour (juce::Label::textColourId, colour);
        knob.slider.setColour (juce::Slider::textBoxTextColourId, colour);
        knob.slider.repaint();
    }
}

void KestruneEditor::timerCallback()
{
    const int instrument = (int) instrumentValue->load();

    if (instrument != currentInstrument)
        selectInstrument (instrument);

    const bool active = hasKeyboardFocus (true) || isMouseOver (true);
    processorRef.editorActive.store (active);

    // MIDI tuning messages and restored states change the tuning behind the editor's back.
    showTuningName();
}

void KestruneEditor::paint (juce::Graphics& g)
{
    // Blit a cached rendering when drawing at one pixel per unit; other scales paint directly
    // so the text stays sharp.
    if (! juce::exactlyEqual (g.getInternalContext().getPhysicalPixelScaleFactor(), 1.0f))
    {
        paintEditorBackground (g, getWidth(), getHeight(), currentInstrument);
        return;
    }

    if (! backgroundCache.isValid() || backgroundCache.getWidth() != getWidth()
        || backgroundCache.getHeight() != getHeight() || backgroundCacheInstrument != currentInstrument)
    {
        backgroundCache = {};

        if (getWidth() <= 0 || getHeight() <= 0)
            return;

        backgroundCache = juce::Image (juce::Image::ARGB, getWidth(), getHeight(), false);
        juce::Graphics cacheGraphics (backgroundCache);
        paintEditorBackground (cacheGraphics, getWidth(), getHeight(), currentInstrument);
        backgroundCacheInstrument = currentInstrument;
    }

    g.drawImageAt (backgroundCache, 0, 0);
}

void KestruneEditor::resized()
{
    auto area = getLocalBounds();

    if (showKeyboard)
        keyboard.setBounds (area.removeFromBottom (keyboardHeight));

    const int width = getWidth();
    const int bottom = area.getBottom();
    keysToggle.setBounds (width - 60, bottom - 18, 50, 16);
    focus.button.setBounds (width - 124, bottom - 18, 58, 16);

    area.removeFromTop (58);
    area.removeFromBottom (22);
    area = area.reduced (16, 6);

    auto row = area.removeFromTop (90);
    // Equal widths; the last button takes what the division leaves.
    const int buttonWidth = row.getWidth() / numInstruments;
    for (auto& button : instrumentButtons)
        button.setBounds ((&button == &instrumentButtons.back() ? row : row.removeFromLeft (buttonWidth)).reduced (2));

    area.removeFromTop (16);

    if (drone.button.isVisible())
    {
        drone.button.setBounds (area.removeFromTop (30).removeFromLeft (150));
        area.removeFromTop (8);
    }

    // Equal columns; the last knob takes what the division leaves.
    const int knobWidth = area.getWidth() / numKnobs;
    for (auto& knob : knobs)
    {
        auto column = &knob == &knobs.back() ? area : area.removeFromLeft (knobWidth);
        knob.caption.setBounds (column.removeFromTop (16));
        knob.slider.setBounds (column);
    }

    // Right of the title, under the version: the header's only free room.
    tuningButton.setBounds (width - 196, 24, 186, 20);

    crtOverlay.setBounds (getLocalBounds());
}
