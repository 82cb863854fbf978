#pragma once

#include "engine/SoundEngine.h"

// Reads what the engine keeps for itself and no listener hears directly: the previous note, the mod
// wheel, the values fixed for the block, the drone's place, the focus fade, the reverb's settings.
// Read-only: tests change an engine only as a host does, through notes and MIDI, parameters and blocks.
// The voices themselves are read through Engine::voice and Engine::soundingVoices.
struct EngineProbe
{
    static int lastNote (const Engine& e) noexcept { return e.lastNote; }
    static float modWheel (const Engine& e) noexcept { return e.modWheel; }
    static int activeInstrument (const Engine& e) noexcept { return e.activeInstrument; }
    static double sampleRate (const Engine& e) noexcept { return e.currentSampleRate; }
    static const BlockValues& block (const Engine& e) noexcept { return e.block; }
    static double dronePosition (const Engine& e) noexcept { return e.drone.position; }
    static float focusGain (const Engine& e) noexcept { return e.output.focusGain; }
    static const juce::Reverb::Parameters& reverbParameters (const Engine& e) noexcept { return e.reverb.getParameters(); }
};
