#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// One decoded recording and the MIDI note at which it sounds at its recorded pitch.
struct SampleZone
{
    juce::AudioBuffer<float> buffer;   // one channel after a successful load
    int rootNote = 0;
    double sampleRate = 44100.0;
    bool loaded = false;
};

static constexpr int maxZonesPerSet = 25;

// The zones of one sampled instrument, filled from slot 0 upwards in table order.
struct ZoneSet
{
    SampleZone zones[maxZonesPerSet];
    int numZones = 0;   // slots filled by the loader, whether or not their decode succeeded
};

// The nearest loaded zone to `note` among the first numZones slots; ties keep the earlier slot.
const SampleZone* findZoneInSet (const ZoneSet& set, int note) noexcept;
