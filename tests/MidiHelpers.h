#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <initializer_list>
#include <vector>

// MIDI for tests: events written as bytes, placed one sample apart from the block's start.
namespace testmidi
{
inline juce::MidiBuffer midiOf (std::initializer_list<std::vector<juce::uint8>> events)
{
    juce::MidiBuffer midi;
    int position = 0;
    for (const auto& e : events)
        midi.addEvent (e.data(), (int) e.size(), position++);
    return midi;
}

inline std::vector<juce::uint8> on (int note, int velocity = 127, int channel = 0)
{
    return { (juce::uint8) (0x90 | channel), (juce::uint8) note, (juce::uint8) velocity };
}
inline std::vector<juce::uint8> off (int note, int channel = 0)
{
    return { (juce::uint8) (0x80 | channel), (juce::uint8) note, 64 };
}
inline std::vector<juce::uint8> cc (int controller, int value, int channel = 0)
{
    return { (juce::uint8) (0xb0 | channel), (juce::uint8) controller, (juce::uint8) value };
}
} // namespace testmidi
