#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

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
} // namespace kestrune
