#pragma once

#include <juce_core/juce_core.h>

#include "samplebank/Instrument.h"

// What a recording's file name says about it: "harp_Fs5.wav", "A4_31.wav", "drone_G2_1.wav".
struct RecordingName
{
    int spelledNote = -1;   // the pitch it sounds at (C4 = 60)
    int rootNote = -1;      // the root it is loaded under
    ZoneSetId set = noZones; // the zone set it belongs to; none for a drone
    bool sustained = false; // held tone (loops steadily) rather than a pluck
};

inline int spelledNote (const juce::String& token)   // "Fs5" -> 78
{
    static const char* names[] = { "C", "Cs", "D", "Ds", "E", "F", "Fs", "G", "Gs", "A", "As", "B" };
    const auto pitchClass = token.dropLastCharacters (1);
    for (int i = 0; i < 12; ++i)
        if (pitchClass == names[i])
            return 12 * (token.getLastCharacter() - '0' + 1) + i;
    return -1;
}

inline RecordingName describeRecording (const juce::String& fileName)
{
    const auto stem = fileName.upToLastOccurrenceOf (".", false, false);
    const auto parts = juce::StringArray::fromTokens (stem, "_", "");
    RecordingName r;

    if (parts.size() == 2 && parts[1] == "31")   // chanter
    {
        r.spelledNote = spelledNote (parts[0]);
        // F4 and G4 are played under the roots an octave below, so notes there sound an octave up.
        r.rootNote = parts[0] == "F4" ? 53 : parts[0] == "G4" ? 55 : r.spelledNote;
        r.set = chanterZones;
        r.sustained = true;
        return r;
    }

    struct Group { const char* prefix; ZoneSetId set; };
    static const Group groups[] = { { "recorder", recorderZones }, { "harp", harpZones }, { "guitar", guitarZones },
                                    { "organ", organZones },       { "horn", hornZones } };
    r.spelledNote = r.rootNote = spelledNote (parts[1]);
    if (parts[0] == "drone")
    {
        r.sustained = true;
        return r;
    }
    for (const auto& group : groups)
        if (parts[0] == group.prefix)
            r.set = group.set;
    r.sustained = parts[0] != "harp" && parts[0] != "guitar";
    return r;
}
