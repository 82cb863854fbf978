#pragma once

#include "core/CycleMidi.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_events/juce_events.h>

namespace juce
{
class StandalonePluginHolder;
}
class KestruneProcessor;

// The Standalone on JACK: the MIDI input port "midi_in" on the app's own JACK client, its events
// played at their frames, and a server that stops rejoined when it runs again.
//
// Make it before the holder opens its devices (a JACK device registers the port only while the hook
// is installed) and keep it until the holder is gone: the devices call the hook, and the processor
// reads the events, until then.
class JackLink final : private juce::JackMidiInputHook,
                       private juce::Timer
{
public:
    JackLink();
    ~JackLink() override;

    // Feeds this holder's processor and watches its devices; nullptr (before the holder goes) stops.
    void attach (juce::StandalonePluginHolder* holder);

private:
    // On the JACK thread, just before the cycle is rendered on the same thread.
    void jackMidiCycleStarting (int numFrames) noexcept override { cycle.startCycle (numFrames); }
    void jackMidiEvent (const juce::uint8* data, int numBytes, int frame) noexcept override { cycle.add (data, numBytes, frame); }

    void timerCallback() override;
    void feedProcessor();
    void rejoinServer();

    kestrune::CycleMidi cycle;
    juce::StandalonePluginHolder* holder = nullptr;
    KestruneProcessor* fed = nullptr;

    JUCE_DECLARE_NON_COPYABLE (JackLink)
};
