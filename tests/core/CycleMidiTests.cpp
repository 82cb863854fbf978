#include "ProcessorFixture.h"

#include <vector>

// MIDI that comes with its frame in the device's cycle (the Standalone's JACK input) sounds at that
// frame, however the cycle is cut into blocks, among the host's own events.
namespace
{
using namespace processortest;

constexpr double rate = 48000.0;
constexpr float silence = 1.0e-6f;

void prepare (KestruneProcessor& p, int maxBlock)
{
    setParameter (p, kestrune::parameterRow (kestrune::Parameter::attack).id, 0.001f);
    setParameter (p, kestrune::parameterRow (kestrune::Parameter::reverbMix).id, 0.0f);
    p.prepareToPlay (rate, maxBlock);
}

void addToCycle (kestrune::CycleMidi& cycle, const std::vector<juce::uint8>& bytes, int frame)
{
    cycle.add (bytes.data(), (int) bytes.size(), frame);
}

// Renders one cycle in blocks of the given sizes, with the host's events in the block that holds
// them, and appends the left channel to `out`.
void renderCycle (KestruneProcessor& p, const std::vector<int>& blocks, std::vector<float>& out,
                  const juce::MidiBuffer& hostMidiOfFirstBlock = {})
{
    bool first = true;
    for (const int size : blocks)
    {
        juce::MidiBuffer midi = first ? hostMidiOfFirstBlock : juce::MidiBuffer();
        first = false;
        const auto buffer = render (p, size, midi);
        for (int i = 0; i < size; ++i)
            out.push_back (buffer.getSample (0, i));
    }
}

int onset (const std::vector<float>& samples, int from = 0)
{
    for (size_t i = (size_t) from; i < samples.size(); ++i)
        if (std::abs (samples[i]) > silence)
            return (int) i;
    return -1;
}

float peak (const std::vector<float>& samples, size_t from, size_t to)
{
    float result = 0.0f;
    for (size_t i = from; i < juce::jmin (to, samples.size()); ++i)
        result = juce::jmax (result, std::abs (samples[i]));
    return result;
}
} // namespace

// A note sent at a frame of the cycle starts at that frame, whether the cycle is one block or split
// into several (the framework splits a cycle longer than the block it prepared for); the next
// cycle's note-off ends it.
TEST (CycleMidi, NoteStartsAtItsFrameHoweverTheCycleIsSplit)
{
    struct Case { int frame; std::vector<int> blocks; };
    const Case cases[] = {
        { 0, { 512 } },
        { 300, { 512 } },
        { 511, { 512 } },
        { 300, { 256, 256 } },
        { 256, { 256, 256 } },
        { 255, { 256, 256 } },
        { 100, { 1, 99, 1, 411 } },
        { 400, { 0, 128, 0, 384 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << "note at frame " << c.frame << ", " << c.blocks.size() << " blocks");
        kestrune::CycleMidi cycle;
        KestruneProcessor p;
        p.setCycleMidi (&cycle);
        prepare (p, 512);
        std::vector<float> out;

        cycle.startCycle (512);
        addToCycle (cycle, on (60, 100), c.frame);
        renderCycle (p, c.blocks, out);
        const int start = onset (out);
        EXPECT_GE (start, c.frame);
        EXPECT_LE (start, c.frame + 1);

        cycle.startCycle (512);
        addToCycle (cycle, off (60), 0);
        renderCycle (p, { 512 }, out);
        for (int quiet = 0; quiet < 40; ++quiet)
        {
            cycle.startCycle (512);
            renderCycle (p, { 512 }, out);
        }
        EXPECT_LT (peak (out, out.size() - 512, out.size()), silence);
    }
}

// The cycle's events merge with the host's in time order: a host note ended by the cycle's note-off
// later in the same block falls silent; played before it, the note-off finds no note to end.
TEST (CycleMidi, MergesWithTheHostsEventsInTimeOrder)
{
    struct Case { int hostNoteOn; int cycleNoteOff; bool silentAfter; };
    const Case cases[] = { { 10, 200, true }, { 199, 200, true }, { 300, 200, false } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << "host note-on at " << c.hostNoteOn << ", cycle note-off at " << c.cycleNoteOff);
        kestrune::CycleMidi cycle;
        KestruneProcessor p;
        p.setCycleMidi (&cycle);
        prepare (p, 512);
        std::vector<float> out;

        juce::MidiBuffer host;
        const auto noteOn = on (60, 100);
        host.addEvent (noteOn.data(), 3, c.hostNoteOn);
        cycle.startCycle (512);
        addToCycle (cycle, off (60), c.cycleNoteOff);
        renderCycle (p, { 512 }, out, host);
        EXPECT_GE (onset (out), c.hostNoteOn);
        EXPECT_LE (onset (out), c.hostNoteOn + 1);

        for (int later = 0; later < 60; ++later)
            renderCycle (p, { 512 }, out);
        const float tail = peak (out, out.size() - 512, out.size());
        if (c.silentAfter)
            EXPECT_LT (tail, silence);
        else
            EXPECT_GT (tail, 0.01f);
    }
}

// A driver that sends events out of order or past the cycle's end loses none of them and plays none
// twice; events of another length than the engine reads, and events past the room, are dropped.
TEST (CycleMidi, OddEventsKeepTheirOrderAndTheRoomHoldsItsCapacity)
{
    kestrune::CycleMidi cycle;
    const juce::uint8 note[] = { 0x90, 60, 100 };
    const juce::uint8 program[] = { 0xc0, 5 };

    cycle.startCycle (64);
    cycle.add (note, 3, 40);
    cycle.add (note, 3, 10);      // before the last: kept, at the last one's frame
    cycle.add (note, 3, 1000);    // past the end: the cycle's last frame
    cycle.add (note, 3, -5);
    cycle.add (program, 2, 20);

    std::vector<int> frames;
    for (const int size : { 32, 32, 32 })
    {
        const auto block = cycle.nextBlock (size);
        for (auto* e = block.begin; e != block.end; ++e)
            frames.push_back (e->frame);
    }
    EXPECT_EQ (frames, (std::vector<int> { 40, 40, 63, 63 }));

    cycle.startCycle (64);
    for (int i = 0; i < kestrune::CycleMidi::capacity + 10; ++i)
        cycle.add (note, 3, i % 64);
    const auto block = cycle.nextBlock (64);
    EXPECT_EQ (block.end - block.begin, kestrune::CycleMidi::capacity);

    cycle.startCycle (0);     // a cycle without frames takes nothing
    cycle.add (note, 3, 0);
    const auto empty = cycle.nextBlock (16);
    EXPECT_EQ (empty.begin, empty.end);
}
