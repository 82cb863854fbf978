#pragma once

#include "engine/SoundEngine.h"

// Reaches the engine's private state for inspection; the engine befriends this probe. Each member
// works on a const engine for reading (as a processor's getEngine() gives) or on a mutable one.
struct EngineProbe
{
    template <typename E> static auto& voices (E& e) noexcept { return e.voices; }
    template <typename E> static auto& lastNote (E& e) noexcept { return e.lastNote; }
    template <typename E> static auto& modWheel (E& e) noexcept { return e.modWheel; }
    template <typename E> static auto& random (E& e) noexcept { return e.random; }
    template <typename E> static auto& block (E& e) noexcept { return e.block; }
    template <typename E> static auto& scratch (E& e) noexcept { return e.scratch; }
    template <typename E> static auto& drone (E& e) noexcept { return e.drone; }
    template <typename E> static auto& output (E& e) noexcept { return e.output; }
    template <typename E> static auto& reverb (E& e) noexcept { return e.reverb; }
    template <typename E> static auto& reverbParameters (E& e) noexcept { return e.reverbParams; }
    static int activeInstrument (const Engine& e) noexcept { return e.activeInstrument; }
    static double sampleRate (const Engine& e) noexcept { return e.currentSampleRate; }

    // The voice pool and the voice pass, without the rest of the block.
    static void noteOn (Engine& e, int note, float velocity) noexcept { e.noteOn (note, velocity); }
    static void stopAllVoices (Engine& e) noexcept { e.stopAllVoices(); }
    // One sample of every voice, summed, with the number of voices met.
    static float voicePass (Engine& e, int& voiceCount) noexcept
    {
        e.renderVoices (1);
        voiceCount = e.scratch.count[0];
        return e.scratch.mix[0];
    }
    static void renderVoices (Engine& e, int numSamples) noexcept { e.renderVoices (numSamples); }
    static double zoneIncrement (const Engine& e, int note, const SampleZone* zone) noexcept { return e.zoneIncrement (note, zone); }
};
