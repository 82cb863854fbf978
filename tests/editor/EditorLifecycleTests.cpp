#include "EditorTestSupport.h"

#include <thread>

#ifndef KESTRUNE_EDITOR_OPEN_CLOSE_CYCLES
 #define KESTRUNE_EDITOR_OPEN_CLOSE_CYCLES 20
#endif

namespace
{
    bool anyVoicePlays (const KestruneProcessor& p, int note)
    {
        for (int i = 0; i < numVoices; ++i)
        {
            const auto v = p.getEngine().voice (i);
            if (v.active && ! v.releasing && v.note == note)
                return true;
        }
        return false;
    }

    void renderBlock (KestruneProcessor& p, juce::AudioBuffer<float>& buffer)
    {
        juce::MidiBuffer midi;
        p.processBlock (buffer, midi);
    }

    // Moves the display's pointer and tells the window's peer, as the windowing system would.
    void moveMouse (juce::Component& window, juce::Point<float> posInWindow)
    {
        juce::Desktop::setMousePosition (window.localPointToGlobal (posInWindow).roundToInt());
        window.getPeer()->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, posInWindow, juce::ModifierKeys(),
                                            juce::MouseInputSource::defaultPressure, 0.0f, juce::Time::currentTimeMillis());
    }
}

class EditorLifecycle : public EditorFixture {};

TEST_F (EditorLifecycle, OnScreenKeyReachesTheEngineInTheNextBlock)
{
    processor.prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    setInstrumentFromHost (processor, rhodes);   // synthesised: plays whatever the recordings are
    renderBlock (processor, buffer);

    openEditor();
    EXPECT_EQ (processor.getEditorKeyboardState(), &probe->keyboardState());

    probe->keyboardState().noteOn (1, 64, 0.8f);
    EXPECT_FALSE (anyVoicePlays (processor, 64));
    renderBlock (processor, buffer);
    EXPECT_TRUE (anyVoicePlays (processor, 64));
    EXPECT_GT (buffer.getMagnitude (0, 0, buffer.getNumSamples()), 0.0f);

    probe->keyboardState().noteOff (1, 64, 0.0f);
    renderBlock (processor, buffer);
    EXPECT_FALSE (anyVoicePlays (processor, 64));

    // Once the editor is gone its keyboard is no longer read.
    editor.reset();
    EXPECT_EQ (processor.getEditorKeyboardState(), nullptr);
    renderBlock (processor, buffer);
}

TEST_F (EditorLifecycle, EditorActiveFollowsMouseAndKeepsItsLastValueAfterClose)
{
    EXPECT_TRUE (processor.editorActive.load());
    openEditor();
    EXPECT_TRUE (processor.editorActive.load()) << "unchanged until the first tick";

    probe->tick();
    EXPECT_FALSE (processor.editorActive.load()) << "off screen: nobody is at the editor";

    editor->addToDesktop (0);
    editor->setVisible (true);
    pumpMessages();

    moveMouse (*editor, { 300.0f, 300.0f });   // over a knob, a child
    probe->tick();
    EXPECT_TRUE (processor.editorActive.load());

    moveMouse (*editor, { 360.0f, 20.0f });    // over the painted header: the editor itself
    probe->tick();
    EXPECT_TRUE (processor.editorActive.load());

    moveMouse (*editor, { 2000.0f, 2000.0f }); // far outside the window
    probe->tick();
    EXPECT_FALSE (processor.editorActive.load());

    editor.reset();
    EXPECT_FALSE (processor.editorActive.load()) << "closing keeps the last value";

    openEditor();
    editor->addToDesktop (0);
    editor->setVisible (true);
    pumpMessages();
    moveMouse (*editor, { 100.0f, 100.0f });
    probe->tick();
    EXPECT_TRUE (processor.editorActive.load());
    moveMouse (*editor, { -500.0f, -500.0f });
    editor.reset();
    EXPECT_TRUE (processor.editorActive.load()) << "closed while active stays active";
}

TEST_F (EditorLifecycle, KeyboardFocusCountsAsPresence)
{
    openEditor();
    editor->addToDesktop (0);
    editor->setVisible (true);
    editor->toFront (true);
    pumpMessages (200);

    // Editing a knob's value box puts the focus on a grandchild of the editor.
    probe->knobs()[2]->showTextBox();
    pumpMessages (200);
    if (! editor->hasKeyboardFocus (true))
        GTEST_SKIP() << "this display gives the window no keyboard focus";

    moveMouse (*editor, { -500.0f, -500.0f });
    probe->tick();
    EXPECT_TRUE (processor.editorActive.load());

    probe->knobs()[2]->hideTextBox (true);
    editor->unfocusAllComponents();
    probe->tick();
    EXPECT_FALSE (processor.editorActive.load());
}

// Hosts open and close editors at will while the audio thread keeps rendering and merging the
// on-screen keyboard: the hand-over of the keyboard state must never let a block touch a dead one.
TEST_F (EditorLifecycle, OpenCloseWhileAudioRuns)
{
    processor.prepareToPlay (44100.0, 64);
    std::atomic<bool> running { true };
    std::atomic<int> blocks { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        while (running.load())
        {
            midi.clear();
            processor.processBlock (buffer, midi);
            blocks.fetch_add (1);
        }
    });

    for (int cycle = 0; cycle < KESTRUNE_EDITOR_OPEN_CLOSE_CYCLES; ++cycle)
    {
        openEditor();
        auto& keys = probe->keyboardState();
        const int note = 48 + cycle % 24;
        keys.noteOn (1, note, 0.7f);
        const int seen = blocks.load();
        while (blocks.load() < seen + 2)
            std::this_thread::yield();
        keys.noteOff (1, note, 0.0f);
        probe->tick();
        (void) renderComponent (*editor);
        if (cycle % 8 == 0)
            setInstrumentFromHost (processor, cycle % numInstruments);
        editor.reset();
        EXPECT_EQ (processor.getEditorKeyboardState(), nullptr);
    }

    running.store (false);
    audio.join();
    EXPECT_GT (blocks.load(), 2 * KESTRUNE_EDITOR_OPEN_CLOSE_CYCLES);
}
