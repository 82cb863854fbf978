#pragma once

#include "engine/BlockValues.h"
#include "engine/Drone.h"
#include "engine/EngineParameters.h"
#include "engine/OutputStage.h"
#include "engine/RenderScratch.h"
#include "engine/StereoReverb.h"
#include "engine/Voice.h"
#include "samplebank/Bank.h"

#include <juce_audio_basics/juce_audio_basics.h>

// The instrument's sound, knowing nothing of plug-in formats, parameter trees or editors: sixteen
// voices played from a sample bank or synthesised, the bagpipe drone, the output stage and the
// reverb. One block at a time: the settings are fixed for the block, each MIDI event takes effect at
// its own sample, and one mono signal goes to every channel before the reverb.
//
//     SampleBank bank;                 // filled by loadEmbeddedBank, or by a test
//     Engine engine (bank);
//     engine.prepare (48000.0, 512);
//     engine.process (buffer, midi, parameters, true);
class Engine
{
public:
    explicit Engine (const SampleBank& bankToPlay) noexcept : bank (&bankToPlay) { updateRateConstants(); }

    // Sets the host rate and silences everything; the block size is not needed. A rate that is not
    // a positive number keeps the previous one.
    void prepare (double sampleRate, int maximumBlockSize);

    // Renders buffer.getNumSamples() samples into every channel of `buffer`, which it clears first.
    // `editorAttended` is whether the user is at the editor, which focus mode follows.
    void process (juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi,
                  const EngineParameters& parameters, bool editorAttended) noexcept;

    // The events the engine acts on: complete three-byte note-off, note-on and controller messages, on
    // any channel. Anything else (other channel messages, system messages, sysex, truncated or
    // malformed events) it ignores.
    static bool actsOn (const juce::MidiMessageMetadata& event) noexcept
    {
        const auto* d = event.data;
        const auto status = d[0] & 0xf0;
        return event.numBytes == 3 && d[0] >= 0x80 && d[0] < 0xf0 && d[1] < 0x80 && d[2] < 0x80
            && (status == 0x80 || status == 0x90 || status == 0xb0);
    }

    // Seeds the random source (drift rates, trill intervals, CHANT's breath), for renders that repeat.
    void seedRandom (juce::int64 seed) noexcept { random.setSeed (seed); }

    // Fixed gain after the reverb (-9 dB), which doubles the dry signal the saturator already brought
    // close to full scale and adds its wet signal: the loudest playing we measured at the default
    // settings, sixteen RHODES notes at full velocity, peaked at +8.45 dB without it.
    static constexpr float outputTrim = 0.35481339f;

    // Idle: once no voice and no drone has sounded and the output has stayed below -96 dBFS (under
    // 16-bit resolution) for a second, blocks skip the voices, the output stage and the reverb and
    // put out exact zeros. The reverb never dies away to zero by itself; it and the tone filter are
    // cleared, so the next note or drone starts from the same state as after prepare.
    static constexpr float silenceThreshold = 1.5848932e-5f;   // -96 dBFS
    bool isIdle() const noexcept { return idle; }

    // How many of the voices sound (held, releasing, or frozen under an instrument they have no zone
    // for), and a copy of one voice's state, `index` in [0, numVoices).
    int soundingVoices() const noexcept;
    Voice voice (int index) const noexcept { return voices[juce::jlimit (0, numVoices - 1, index)]; }

    // Read speed, in recording frames per output sample, of `note` played through `zone` at the host
    // rate; a voice without a zone reads nothing and keeps 1.
    static double zoneIncrement (int note, const SampleZone* zone, double hostRate) noexcept;

private:
    // The voice pool's operations, as the MIDI pass applies them.
    void noteOn (int note, float velocity) noexcept;
    void noteOff (int note) noexcept;
    void stopAllVoices() noexcept;
    void releaseAllVoices() noexcept;

    void updateRateConstants() noexcept;
    void beginBlock (const EngineParameters&, bool editorAttended) noexcept;
    void updateModulation() noexcept;
    void applyEvent (const juce::MidiMessageMetadata&) noexcept;
    void renderSpan (float* out, int from, int to) noexcept;
    void wake() noexcept;
    void followSilence (const juce::AudioBuffer<float>&) noexcept;

    // Up to one chunk of the voices' sum into scratch.mix and the number of voices met into scratch.count.
    void renderVoices (int numSamples) noexcept;

    // Only the audio thread touches the state.
    const SampleBank* bank;
    Voice voices[numVoices];
    int lastNote = -1;
    float modWheel = 0.0f;
    int activeInstrument = 0;
    double currentSampleRate = 44100.0;
    juce::Random random;
    BlockValues block;
    RenderScratch scratch {};
    Drone drone {};
    OutputStage output;
    StereoReverb reverb;
    juce::Reverb::Parameters reverbParams;

    bool idle = false;
    int quietSamples = 0;   // since a voice or the drone last sounded or the output last reached the threshold

    // Tests read what a listener cannot see directly through this probe alone, never writing.
    friend struct EngineProbe;
};
