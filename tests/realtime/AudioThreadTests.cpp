#include "Interpose.h"

#include "core/ParameterTable.h"
#include "core/PluginProcessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
// Runs one block each time the message thread asks, counted, and nothing else while counted.
class AudioThread
{
public:
    explicit AudioThread (KestruneProcessor& p) : processor (p), thread ([this] { run(); }) {}

    ~AudioThread()
    {
        stop = true;
        thread.join();
    }

    void render (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
    {
        pendingBuffer = &buffer;
        pendingMidi = &midi;
        requested.store (true);
        while (requested.load())
            std::this_thread::yield();
    }

private:
    void run()
    {
        while (! stop.load())
        {
            if (! requested.load())
            {
                std::this_thread::yield();
                continue;
            }
            {
                const audiothread::ScopedAudioThread counted;
                processor.processBlock (*pendingBuffer, *pendingMidi);
            }
            requested.store (false);
        }
    }

    KestruneProcessor& processor;
    juce::AudioBuffer<float>* pendingBuffer = nullptr;
    juce::MidiBuffer* pendingMidi = nullptr;
    std::atomic<bool> requested { false }, stop { false };
    std::thread thread;
};

// What an open editor hands the processor: its keyboard state, with the keyboard component listening.
struct OnScreenKeyboard : juce::MidiKeyboardState::Listener
{
    OnScreenKeyboard() { state.addListener (this); }
    ~OnScreenKeyboard() override { state.removeListener (this); }
    void handleNoteOn (juce::MidiKeyboardState*, int channel, int note, float) override
    {
        if (channel == 1 && note == 60)   // the note each block that opens an editor carries
            ++notesShown;
    }
    void handleNoteOff (juce::MidiKeyboardState*, int, int, float) override {}

    juce::MidiKeyboardState state;
    std::atomic<int> notesShown { 0 };
};

void addHostEvents (juce::MidiBuffer& midi, juce::Random& random, int count, int numSamples, float& wheel)
{
    const int span = juce::jmax (1, numSamples);
    for (int i = 0; i < count; ++i)
    {
        const int position = random.nextInt (span);
        const int note = 24 + random.nextInt (84);
        switch (random.nextInt (11))
        {
            case 10:
            {
                // A real-time single-note tuning change: a long message, merged beside the keyboard's notes.
                const juce::uint8 retune[] = { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0x00, 0x01, (juce::uint8) note,
                                               (juce::uint8) note, (juce::uint8) random.nextInt (128), 0x00, 0xf7 };
                midi.addEvent (retune, (int) sizeof (retune), position);
                break;
            }
            case 0: case 1: case 2: case 3: midi.addEvent (juce::MidiMessage::noteOn (1 + random.nextInt (16), note, (juce::uint8) (1 + random.nextInt (127))), position); break;
            case 4: case 5: case 6:         midi.addEvent (juce::MidiMessage::noteOff (1 + random.nextInt (16), note), position); break;
            case 7:
                wheel = std::fmod (wheel + 0.05f, 1.0f);
                midi.addEvent (juce::MidiMessage::controllerEvent (1, 1, juce::roundToInt (wheel * 127.0f)), position);
                break;
            case 8:  midi.addEvent (juce::MidiMessage::pitchWheel (1, random.nextInt (16384)), position); break;
            default: midi.addEvent (juce::MidiMessage::controllerEvent (1, random.nextBool() ? 123 : 7, 0), position); break;
        }
    }
}
} // namespace

// The counter itself: an allocation, a free and a lock on a marked thread are seen, whichever
// library makes them; the same on an unmarked thread are not.
TEST (AudioThread, InterpositionSeesAllocationsFreesAndLocks)
{
    audiothread::reset();
    std::mutex mutex;
    {
        auto unmarked = std::make_unique<std::vector<int>> (100);
        const std::lock_guard<std::mutex> lock (mutex);
    }
    EXPECT_EQ (audiothread::counts().allocations(), 0);

    {
        const audiothread::ScopedAudioThread counted;
        auto vector = std::make_unique<std::vector<int>> (100);
        juce::HeapBlock<float> block (64);
        block.realloc (4096);
        const std::lock_guard<std::mutex> lock (mutex);
        const juce::String text ("a string long enough to live on the heap");
    }
    const auto c = audiothread::counts();
    EXPECT_GE (c.calls[audiothread::malloc_], 3);
    EXPECT_EQ (c.calls[audiothread::realloc_], 1);
    EXPECT_GE (c.calls[audiothread::free_], 3);
    EXPECT_EQ (c.calls[audiothread::mutexLock], 1);
    audiothread::reset();
}

// Over many varied blocks the audio thread neither allocates nor frees: every instrument, parameter
// changes and instrument switches, the mod wheel, floods of up to 10,000 events a block, rates from
// 44.1 to 192 kHz, editors opening and closing, each one's first note included, and the Standalone's
// JACK MIDI merged in.
TEST (AudioThread, NothingAllocatesOrFreesInProcessBlock)
{
    constexpr int numBlocks = 10000;
    constexpr int maxBlock = 8192;
    const double rates[] = { 44100.0, 48000.0, 96000.0, 192000.0 };
    const int floods[] = { 10000, 1900, 2500, 5000 };

    kestrune::CycleMidi cycle;
    KestruneProcessor processor;
    processor.setCycleMidi (&cycle);
    juce::AudioBuffer<float> buffer (2, maxBlock);
    juce::MidiBuffer midi;
    juce::Random random (20240611);
    float wheel = 0.0f;

    // Filling a MidiBuffer event by event takes time that grows with the square of its size: make
    // each flood once, spread over a whole block.
    std::vector<juce::MidiBuffer> floodBlocks;
    for (const int events : floods)
    {
        floodBlocks.emplace_back();
        addHostEvents (floodBlocks.back(), random, events, maxBlock, wheel);
    }

    std::unique_ptr<OnScreenKeyboard> keyboard;
    int editorsOpened = 0, notesShown = 0;
    long blocksWithKeyboard = 0;

    audiothread::reset();
    {
        AudioThread audio (processor);

        for (int index = 0; index < numBlocks; ++index)
        {
            audiothread::setBlock (index);

            // Between blocks, on this (the message) thread: what the host and an editor do.
            if (index % 2500 == 0)
            {
                processor.releaseResources();
                processor.prepareToPlay (rates[(index / 2500) % 4], maxBlock);
            }
            if (index % 400 == 50)
            {
                keyboard = std::make_unique<OnScreenKeyboard>();
                processor.setEditorKeyboardState (&keyboard->state);
                ++editorsOpened;
            }
            if (index % 400 == 350)
            {
                processor.setEditorKeyboardState (nullptr);
                notesShown += keyboard->notesShown.load();
                keyboard.reset();
            }
            if (keyboard != nullptr && index % 7 == 0)
            {
                const int note = 48 + random.nextInt (24);
                if (random.nextBool()) keyboard->state.noteOn (1, note, 0.8f);
                else                   keyboard->state.allNotesOff (1);
            }
            if (index % 75 == 0)
            {
                auto* instrument = processor.parameters.getParameter ("instrument");
                instrument->setValueNotifyingHost (instrument->convertTo0to1 ((float) ((index / 75) % 8)));
            }
            if (random.nextInt (10) < 3)
            {
                const auto& spec = kestrune::parameterTable[1 + random.nextInt (kestrune::numParameters - 1)];
                processor.parameters.getParameter (spec.id)->setValueNotifyingHost (random.nextFloat());
            }

            // The block: sizes from 0 to the maximum, a few events or a flood; a note right after
            // an editor opens.
            const bool flood = index % 40 == 0;
            const int sizes[] = { 0, 1, 32, 64, 256, 441, 512, 1024, 4096, maxBlock };
            const int numSamples = flood ? maxBlock : random.nextBool() ? sizes[random.nextInt (10)] : 1 + random.nextInt (maxBlock);
            buffer.setSize (2, numSamples, false, false, true);
            if (flood)
            {
                midi = floodBlocks[(size_t) (index / 40) % floodBlocks.size()];
            }
            else
            {
                midi.clear();
                if (index % 400 == 50)
                    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
                addHostEvents (midi, random, random.nextInt (24), numSamples, wheel);
            }

            // Every third block, the Standalone's JACK input: a cycle of events at their frames, full
            // to its room in a flood.
            if (index % 3 == 0)
            {
                cycle.startCycle (numSamples);
                const int events = flood ? kestrune::CycleMidi::capacity : random.nextInt (24);
                for (int e = 0; e < events; ++e)
                {
                    const juce::uint8 note[] = { (juce::uint8) (random.nextBool() ? 0x90 : 0x80), (juce::uint8) (24 + random.nextInt (84)), 100 };
                    cycle.add (note, 3, (int) ((juce::int64) e * numSamples / juce::jmax (1, events)));
                }
            }

            blocksWithKeyboard += keyboard != nullptr ? 1 : 0;
            audio.render (buffer, midi);
        }

        if (keyboard != nullptr)
        {
            processor.setEditorKeyboardState (nullptr);
            notesShown += keyboard->notesShown.load();
            keyboard.reset();
        }
    }

    const auto counts = audiothread::counts();
    const auto first = audiothread::firstCall();
    std::cout << "audio thread over " << numBlocks << " blocks (" << blocksWithKeyboard << " with a keyboard, "
              << editorsOpened << " editors opened):";
    for (int call = 0; call < audiothread::numCalls; ++call)
        std::cout << " " << counts.calls[call] << " " << audiothread::callName (call) << (call + 1 < audiothread::numCalls ? "," : "\n");
    RecordProperty ("mutexLocks", (int) counts.calls[audiothread::mutexLock]);

    EXPECT_EQ (counts.allocations(), 0) << "first: " << audiothread::callName (first.call) << " of " << first.size
                                        << " bytes in block " << first.block;
    EXPECT_EQ (counts.calls[audiothread::free_], 0) << "first: " << audiothread::callName (first.call)
                                                     << " in block " << first.block;
    EXPECT_GE (notesShown, editorsOpened);   // each keyboard really took part: it saw the host's notes
}
