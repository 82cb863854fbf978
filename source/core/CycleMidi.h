#pragma once

#include <juce_core/juce_core.h>

#include <array>

namespace kestrune
{
// MIDI that arrives with its frame in the audio device's cycle (the Standalone's JACK MIDI input).
// The device's thread writes a cycle's events just before the blocks that render that cycle read
// them, on the same thread, so nothing here is shared between threads. A cycle may be rendered in
// several blocks: each takes the events of its own stretch. The room is fixed, and only three-byte
// messages are kept: the engine acts on nothing shorter or longer.
class CycleMidi
{
public:
    // More than one cycle of a JACK MIDI port can carry (a 32 KB buffer, at least 8 bytes an event).
    static constexpr int capacity = 4096;

    struct Event
    {
        int frame;
        juce::uint8 data[3];
    };

    // A block's share of the cycle: its events, and the frame of the cycle where the block starts.
    struct Block
    {
        const Event* begin;
        const Event* end;
        int start;
    };

    void startCycle (int numFrames) noexcept
    {
        frames = juce::jmax (0, numFrames);
        count = 0;
        taken = 0;
        blockStart = 0;
    }

    // Events come in time order; one out of order or outside the cycle goes to the nearest frame
    // that keeps the order, so none is lost or played twice. Past the room, events are dropped.
    void add (const juce::uint8* data, int numBytes, int frame) noexcept
    {
        if (numBytes != 3 || count == capacity || frames == 0)
            return;

        const int earliest = count > 0 ? events[(size_t) count - 1].frame : 0;
        events[(size_t) count++] = { juce::jlimit (earliest, frames - 1, frame), { data[0], data[1], data[2] } };
    }

    // The events of the next numSamples frames of the cycle.
    Block nextBlock (int numSamples) noexcept
    {
        const int start = blockStart;
        blockStart += juce::jmax (0, numSamples);
        const int first = taken;

        while (taken < count && events[(size_t) taken].frame < blockStart)
            ++taken;

        return { events.data() + first, events.data() + taken, start };
    }

private:
    std::array<Event, capacity> events {};
    int count = 0, taken = 0, frames = 0, blockStart = 0;
};
} // namespace kestrune
