#include "ProcessorFixture.h"

#include <thread>

using namespace processortest;

namespace
{
int activeVoices (const KestruneProcessor& p)
{
    return p.getEngine().soundingVoices();
}

void apply (KestruneProcessor& p, juce::MidiBuffer midi)
{
    render (p, 0, std::move (midi));
}
} // namespace

// One thread renders blocks without pause while this one, as an editor would, creates a keyboard
// state, hands it over, plays on it, takes it back and destroys it. Under ThreadSanitizer this shows
// that no block touches a state after its editor has let go of it; in a plain build it is a short
// smoke run of the same.
TEST (KeyboardHandover, AStateIsNeverUsedAfterItIsTakenBack)
{
    KestruneProcessor p;
    p.prepareToPlay (44100.0, 64);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        const juce::uint8 note[] = { 0x90, 64, 100 };
        while (! stop.load())
        {
            midi.clear();
            midi.addEvent (note, 3, 0);
            p.processBlock (buffer, midi);
            ++blocks;
        }
    });

    // On a busy machine the audio thread may start late: swap until it has rendered alongside.
    while (blocks.load() == 0)
        std::this_thread::yield();

    for (int i = 0; i < 3000 || blocks.load() < 200; ++i)
    {
        auto keyboard = std::make_unique<juce::MidiKeyboardState>();
        keyboard->noteOn (1, 60 + i % 12, 1.0f);
        p.setEditorKeyboardState (keyboard.get());
        if (i % 2 == 0)
            std::this_thread::yield();
        keyboard->noteOff (1, 60 + i % 12, 0.0f);
        p.setEditorKeyboardState (nullptr);
        keyboard.reset();
    }

    stop = true;
    audio.join();
    EXPECT_GT (blocks.load(), 0);
    EXPECT_EQ (p.getEditorKeyboardState(), nullptr);
}

TEST (KeyboardHandover, KeyboardNotesReachTheEngineAndHostNotesReachTheKeyboard)
{
    auto p = std::make_unique<KestruneProcessor>();
    setParameter (*p, "instrument", (float) harp);
    p->prepareToPlay (44100.0, 512);
    juce::MidiKeyboardState keyboard;
    p->setEditorKeyboardState (&keyboard);

    keyboard.noteOn (1, 62, 1.0f);
    apply (*p, midiOf ({ on (70, 100, 3), on (75, 100, 15) }));
    EXPECT_TRUE (keyboard.isNoteOn (4, 70));
    EXPECT_TRUE (keyboard.isNoteOn (16, 75));
    EXPECT_EQ (activeVoices (*p), 3);

    // Pending keyboard notes wait for a block, even one without samples, and are taken once.
    keyboard.noteOff (1, 62, 0.0f);
    render (*p, 0);
    EXPECT_EQ (activeVoices (*p), 3);
    bool released = false;
    for (int i = 0; i < numVoices; ++i)
        released = released || (p->getEngine().voice (i).note == 62 && p->getEngine().voice (i).releasing);
    EXPECT_TRUE (released);

    p->setEditorKeyboardState (nullptr);
    keyboard.noteOn (1, 50, 1.0f);
    apply (*p, {});
    EXPECT_EQ (activeVoices (*p), 3);
}
