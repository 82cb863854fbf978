#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstddef>

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

// One row of a load table: an embedded WAV and the root note it is played under.
struct SampleRow
{
    const char* data;
    int size;
    int rootNote;
};

// Decodes a WAV held in memory into `zone` (the average of its channels). A 16-bit mono file, the
// kind the bank ships, is converted straight into `room` when that holds `roomFloats` floats or
// more, and the zone then refers to it; `data` may lie inside the back of the room itself. Anything
// else gets a buffer of the zone's own. On any failure, including a file without frames or one cut
// short inside its audio, the zone is left untouched.
void loadSample (SampleZone& zone, const void* data, int size, int root, float* room = nullptr, size_t roomFloats = 0);

// The nearest loaded zone to `note` among the first numZones slots; ties keep the earlier slot.
const SampleZone* findZoneInSet (const ZoneSet& set, int note) noexcept;
