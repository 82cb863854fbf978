#include "EditorTestSupport.h"

namespace
{
    // Counts writes of one parameter, whichever thread or path they take.
    struct WriteCounter : juce::AudioProcessorValueTreeState::Listener
    {
        void parameterChanged (const juce::String&, float) override { ++writes; }
        int writes = 0;
    };

    // Presses the mouse on a child through the window's own peer, so the overlay above it is in the way.
    void clickThroughWindow (juce::Component& window, juce::Component& target)
    {
        auto* peer = window.getPeer();
        ASSERT_NE (peer, nullptr);
        const auto pos = window.getLocalPoint (&target, target.getLocalBounds().getCentre()).toFloat();
        juce::Desktop::setMousePosition (window.localPointToGlobal (pos).roundToInt());
        pumpMessages (20);   // let the display's own pointer events arrive first
        const auto now = juce::Time::currentTimeMillis();
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, pos, juce::ModifierKeys::leftButtonModifier,
                                juce::MouseInputSource::defaultPressure, 0.0f, now);
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, pos, juce::ModifierKeys(),
                                juce::MouseInputSource::defaultPressure, 0.0f, now + 10);
    }
}

class EditorSelection : public EditorFixture
{
protected:
    void expectShows (int instrument)
    {
        const auto colour = instrumentColour (instrument);
        EXPECT_EQ (probe->currentInstrument(), instrument);
        for (int i = 0; i < numInstruments; ++i)
            EXPECT_EQ (probe->button (i).selected, i == instrument) << "button " << i;

        EXPECT_EQ (probe->lookAndFeel().accentColour, colour);
        for (auto* label : probe->labels())
            EXPECT_EQ (label->findColour (juce::Label::textColourId), colour);
        for (auto* knob : probe->knobs())
            EXPECT_EQ (knob->findColour (juce::Slider::textBoxTextColourId), colour);

        EXPECT_EQ (probe->drone().isVisible(), hasDrone (instrument));
        EXPECT_EQ (probe->drone().isEnabled(), hasDrone (instrument));
        if (hasDrone (instrument))
            EXPECT_LE (probe->drone().getBottom(), probe->labels()[0]->getY()) << "the knobs make room for the switch";
        EXPECT_EQ (probe->instrumentBox().getSelectedId(), instrument + 1);
    }
};

TEST_F (EditorSelection, OpensOnTheParameterValue)
{
    setInstrumentFromHost (processor, 4);
    openEditor();
    expectShows (4);
    EXPECT_EQ (probe->instrumentBox().getItemText (0), "BAGPIPES");
    EXPECT_EQ (probe->button (0).label, "BAGPIPE");
}

TEST_F (EditorSelection, ClickOnWindowSelectsAndWritesTheParameter)
{
    openEditor();
    editor->addToDesktop (0);
    editor->setVisible (true);
    pumpMessages();

    clickThroughWindow (*editor, probe->button (3));
    expectShows (3);   // the editor follows at once
    pumpMessages();    // the parameter follows through the hidden combo box's attachment
    EXPECT_EQ (instrumentParameter (processor), 3);

    clickThroughWindow (*editor, probe->button (7));
    pumpMessages();
    expectShows (7);
    EXPECT_EQ (instrumentParameter (processor), 7);
}

// The timer may run between the click and anything the click leaves queued; the click still counts.
TEST_F (EditorSelection, ClickSurvivesATimerTickBeforeAnyMessage)
{
    setInstrumentFromHost (processor, 1);
    openEditor();
    pumpMessages();

    WriteCounter counter;
    processor.parameters.addParameterListener (idOf (kestrune::Parameter::instrument), &counter);
    for (const int target : { 6, 0, 7 })
    {
        auto& button = probe->button (target);
        button.onClick (button.index);
        probe->tick();
        expectShows (target);
        EXPECT_EQ (instrumentParameter (processor), target);
        pumpMessages();
        probe->tick();
        expectShows (target);
        EXPECT_EQ (instrumentParameter (processor), target);
    }
    EXPECT_EQ (counter.writes, 3);
    processor.parameters.removeParameterListener (idOf (kestrune::Parameter::instrument), &counter);
}

TEST_F (EditorSelection, ClickingTheSelectedButtonRepeatsEveryStepWithoutWriting)
{
    setInstrumentFromHost (processor, 2);
    openEditor();
    pumpMessages();

    WriteCounter counter;
    processor.parameters.addParameterListener (idOf (kestrune::Parameter::instrument), &counter);

    // Disturb what selectInstrument owns, then click the already selected instrument.
    probe->button (2).selected = false;
    probe->labels()[3]->setColour (juce::Label::textColourId, juce::Colours::red);
    probe->lookAndFeel().accentColour = juce::Colours::red;

    auto& button = probe->button (2);
    ASSERT_TRUE (button.onClick);
    button.onClick (button.index);
    pumpMessages();

    expectShows (2);
    EXPECT_EQ (counter.writes, 0);
    processor.parameters.removeParameterListener (idOf (kestrune::Parameter::instrument), &counter);
}

TEST_F (EditorSelection, HostChangeReachesTheEditorAtTheNextTickWithoutAWriteBack)
{
    setInstrumentFromHost (processor, 2);
    openEditor();
    pumpMessages();
    expectShows (2);

    WriteCounter counter;
    processor.parameters.addParameterListener (idOf (kestrune::Parameter::instrument), &counter);
    setInstrumentFromHost (processor, 0);
    EXPECT_EQ (counter.writes, 1);

    probe->tick();
    expectShows (0);
    EXPECT_EQ (probe->drone().getBounds(), juce::Rectangle<int> (16, 170, 150, 30));
    pumpMessages();
    EXPECT_EQ (counter.writes, 1);   // only the host's own change
    processor.parameters.removeParameterListener (idOf (kestrune::Parameter::instrument), &counter);
}

TEST_F (EditorSelection, DroneSwitchComesBackWithItsValue)
{
    openEditor();
    probe->drone().setToggleState (true, juce::sendNotificationSync);
    EXPECT_GT (processor.parameters.getRawParameterValue (idOf (kestrune::Parameter::droneOn))->load(), 0.5f);

    editor->selectInstrument (5);
    EXPECT_FALSE (probe->drone().isVisible());
    EXPECT_GT (processor.parameters.getRawParameterValue (idOf (kestrune::Parameter::droneOn))->load(), 0.5f);

    editor->selectInstrument (0);
    EXPECT_TRUE (probe->drone().isVisible());
    EXPECT_TRUE (probe->drone().getToggleState());
}

// The accent tints the whole window, while the keyboard keeps its own colours whatever is selected.
TEST_F (EditorSelection, EveryInstrumentTintsEverythingButTheKeyboard)
{
    openEditor();
    const auto keyboardColours = [this]
    {
        std::vector<juce::Colour> colours;
        for (const auto id : { juce::MidiKeyboardComponent::keyDownOverlayColourId, juce::MidiKeyboardComponent::whiteNoteColourId,
                               juce::MidiKeyboardComponent::mouseOverKeyOverlayColourId })
            colours.push_back (probe->keyboard().findColour (id));
        return colours;
    };
    const auto opened = keyboardColours();

    for (const int instrument : { (int) rhodes, (int) bagpipes, numInstruments - 1, 1 })
    {
        SCOPED_TRACE (instrumentTable[instrument].name);
        editor->selectInstrument (instrument);
        expectShows (instrument);
        EXPECT_EQ (keyboardColours(), opened);
    }
}

TEST_F (EditorSelection, OutOfRangeIndexChangesNothing)
{
    openEditor();
    editor->selectInstrument (3);
    for (const int bad : { -1, (int) numInstruments, 1000 })
    {
        editor->selectInstrument (bad);
        pumpMessages (10);
        expectShows (3);
    }
    EXPECT_EQ (instrumentParameter (processor), 3);
}

// Every captioned parameter has one control under its caption, and that control moves with the
// parameter: a knob wired to a neighbour's parameter, or showing another's unit, fails here.
TEST_F (EditorSelection, EachCaptionedControlFollowsItsOwnParameter)
{
    openEditor();
    const auto knobs = probe->knobs();
    const auto captions = probe->labels();
    size_t knobsMet = 0;

    for (const auto& row : kestrune::parameterTable)
    {
        if (row.caption == nullptr)
            continue;
        SCOPED_TRACE (row.id);
        auto* parameter = processor.parameters.getParameter (row.id);
        parameter->setValueNotifyingHost (0.37f);
        const auto plain = parameter->convertFrom0to1 (parameter->getValue());

        if (row.kind == kestrune::ParameterKind::boolean)
        {
            auto& toggle = juce::String (row.caption) == probe->drone().getButtonText() ? probe->drone() : probe->focus();
            EXPECT_EQ (toggle.getButtonText(), row.caption);
            parameter->setValueNotifyingHost (1.0f);
            EXPECT_TRUE (toggle.getToggleState());
            parameter->setValueNotifyingHost (0.0f);
            EXPECT_FALSE (toggle.getToggleState());
            continue;
        }

        const auto at = std::find_if (captions.begin(), captions.end(),
                                      [&] (juce::Label* l) { return l->getText() == row.caption; });
        ASSERT_NE (at, captions.end());
        auto* knob = knobs[(size_t) (at - captions.begin())];
        ++knobsMet;
        EXPECT_NEAR (knob->getValue(), plain, 1.0e-4);
        EXPECT_EQ (knob->getMinimum(), row.start);
        EXPECT_EQ (knob->getMaximum(), row.end);
        const auto unit = juce::String (row.unit);
        EXPECT_TRUE (knob->getTextFromValue (plain).endsWith (unit == "%" ? "%" : " " + unit)) << knob->getTextFromValue (plain);
    }
    EXPECT_EQ (knobsMet, knobs.size()) << "no knob without a captioned parameter";
}
