#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstring>
#include <limits>

namespace kestrune
{
// MidiBuffer::addEvent searches from the start for each event's place, so adding a block's events
// one by one costs the square of their number, and a flood at one sample costs the most. Events
// taken in time order belong at the end: this appends one there, in MidiBuffer's own layout (time,
// size, bytes), in constant time. The caller keeps the order; nothing is allocated while the
// buffer's reserved room lasts.
inline void appendInOrder (juce::MidiBuffer& buffer, int samplePosition, const juce::uint8* data, int numBytes)
{
    if (numBytes <= 0 || numBytes > std::numeric_limits<juce::uint16>::max())
        return;

    const auto time = (juce::int32) samplePosition;
    const auto size = (juce::uint16) numBytes;
    buffer.data.addArray (reinterpret_cast<const juce::uint8*> (&time), (int) sizeof (time));
    buffer.data.addArray (reinterpret_cast<const juce::uint8*> (&size), (int) sizeof (size));
    buffer.data.addArray (data, numBytes);
}

// Inserts a SysEx message after the SysEx messages and before the other events the buffer holds at
// its sample, so that SysEx keeps its own order and takes effect before the notes beside it; nothing
// is allocated while the buffer's reserved room lasts.
inline void insertSysExBeforeNotes (juce::MidiBuffer& buffer, int samplePosition, const juce::uint8* data, int numBytes)
{
    if (numBytes <= 0 || numBytes > std::numeric_limits<juce::uint16>::max())
        return;

    int offset = 0;
    for (const auto event : buffer)
    {
        if (event.samplePosition > samplePosition || (event.samplePosition == samplePosition && event.data[0] != 0xf0))
            break;
        offset += (int) (sizeof (juce::int32) + sizeof (juce::uint16)) + event.numBytes;
    }

    const auto time = (juce::int32) samplePosition;
    const auto size = (juce::uint16) numBytes;
    buffer.data.insertMultiple (offset, 0, (int) (sizeof (time) + sizeof (size)) + numBytes);
    auto* d = buffer.data.getRawDataPointer() + offset;
    std::memcpy (d, &time, sizeof (time));
    std::memcpy (d + sizeof (time), &size, sizeof (size));
    std::memcpy (d + sizeof (time) + sizeof (size), data, (size_t) numBytes);
}
} // namespace kestrune
