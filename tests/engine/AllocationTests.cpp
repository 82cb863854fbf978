#include "EngineFixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Every heap allocation in this binary passes through here; while `counting` is set, the ones made
// on the counting thread are tallied.
namespace
{
thread_local bool counting = false;
std::atomic<int> allocationsWhileCounting { 0 };

void* allocate (std::size_t size)
{
    if (counting)
        ++allocationsWhileCounting;
    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

using namespace enginetest;

namespace
{
struct KeyListener final : juce::MidiKeyboardState::Listener
{
    void handleNoteOn (juce::MidiKeyboardState*, int, int, float) override {}
    void handleNoteOff (juce::MidiKeyboardState*, int, int, float) override {}
};
} // namespace

TEST (RealTime, ProcessBlockNeverAllocates)
{
    KestruneProcessor p;
    p.prepareToPlay (48000.0, 512);
    juce::MidiKeyboardState keyboard;
    KeyListener listener;   // the editor's keyboard component listens like this
    keyboard.addListener (&listener);
    p.setEditorKeyboardState (&keyboard);

    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    midi.ensureSize (4096);   // hosts hand over a buffer with room to spare

    // JUCE's listener list sizes its iterator storage on its first call; one block does that.
    keyboard.noteOn (1, 60, 1.0f);
    p.processBlock (buffer, midi);

    juce::Random r (7);
    int notes = 0;
    for (int b = 0; b < 4000; ++b)
    {
        midi.clear();
        for (int i = 0; i < 6; ++i)
        {
            const auto note = 30 + r.nextInt (70);
            midi.addEvent (juce::MidiMessage::noteOn (1 + r.nextInt (16), note, (juce::uint8) r.nextInt (128)), i);
            ++notes;
            if (r.nextBool())
                midi.addEvent (juce::MidiMessage::noteOff (1, r.nextInt (128)), i);
        }
        midi.addEvent (juce::MidiMessage::controllerEvent (1, r.nextInt (128), r.nextInt (128)), 7);
        const juce::uint8 sysex[] = { 0xf0, 0x7e, 0x7f, 0x09, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xf7 };
        midi.addEvent (sysex, (int) sizeof (sysex), 8);

        if (b % 50 == 0)
            setParameter (p, "instrument", (float) ((b / 50) % 8));
        if (b % 20 == 0)
            setParameter (p, "droneOn", (b / 20) % 2 == 0 ? 1.0f : 0.0f);
        if (b % 3 == 0)
            keyboard.noteOn (1, 40 + r.nextInt (40), 0.8f);
        if (b % 5 == 0)
            keyboard.allNotesOff (1);

        counting = true;
        p.processBlock (buffer, midi);
        counting = false;
    }

    p.setEditorKeyboardState (nullptr);
    keyboard.removeListener (&listener);
    EXPECT_GT (notes, 20000);
    EXPECT_EQ (allocationsWhileCounting.load(), 0);
}
