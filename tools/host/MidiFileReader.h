#pragma once

#include "HostSession.h"

#include <vector>

namespace host
{
// Every event of a Standard MIDI File, all tracks merged on the file's tempo map, with its time in
// seconds as the message's time stamp. Events keep the order the file gives them: by time, then by
// track, then as written in the track. Nothing is added, dropped or reordered, unlike the
// framework's reader, which inserts note-offs before repeated note-ons and moves note-ons behind
// note-offs at the same tick.
//
// Throws HostError when the file cannot be read, is not a Standard MIDI File, or has timing that
// gives no finite times (a division or a tempo of 0).
std::vector<juce::MidiMessage> readMidiFileAsWritten (const juce::File& file);

// The same for a file's bytes already read; name stands for the file in the messages.
std::vector<juce::MidiMessage> readMidiFileAsWritten (const juce::MemoryBlock& bytes, const juce::String& name);
} // namespace host
