#pragma once

#include <gtest/gtest.h>
#include "core/PluginProcessor.h"

#include <functional>
#include <memory>
#include <vector>

// Small helpers that drive one processor the way a host does.
namespace enginetest
{
enum Instrument { bagpipes, recorder, harp, guitar, organ, horn, chant, rhodes };

inline void setParameter (KestruneProcessor& p, const char* id, float plainValue)
{
    auto* prm = p.parameters.getParameter (id);
    ASSERT_NE (prm, nullptr) << id;
    prm->setValueNotifyingHost (prm->convertTo0to1 (plainValue));
}

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

// Renders a block and returns it. Three channels keep JUCE's reverb out, so every channel holds the
// engine's dry output.
inline juce::AudioBuffer<float> render (KestruneProcessor& p, int numSamples, juce::MidiBuffer midi = {},
                                        int channels = 3)
{
    juce::AudioBuffer<float> buffer (channels, numSamples);
    p.processBlock (buffer, midi);
    return buffer;
}

// Dry output of `numSamples` samples rendered one block at a time.
inline std::vector<float> dryOutput (KestruneProcessor& p, int numSamples, juce::MidiBuffer midi = {})
{
    auto buffer = render (p, numSamples, std::move (midi));
    return { buffer.getReadPointer (0), buffer.getReadPointer (0) + numSamples };
}

// Applies parameters and MIDI without rendering a sample.
inline void apply (KestruneProcessor& p, juce::MidiBuffer midi)
{
    render (p, 0, std::move (midi));
}

// Replaces an instrument's zones by one synthetic recording.
inline SampleZone& useSyntheticZone (KestruneProcessor& p, int instrument, std::vector<float> frames,
                                     int rootNote = 60, double sampleRate = 44100.0)
{
    auto& set = p.zoneSets[instrument];
    set.numZones = 1;
    auto& zone = set.zones[0];
    zone.buffer.setSize (1, (int) frames.size());
    std::copy (frames.begin(), frames.end(), zone.buffer.getWritePointer (0));
    zone.rootNote = rootNote;
    zone.sampleRate = sampleRate;
    zone.loaded = true;
    return zone;
}

inline std::vector<float> ramp (int length)
{
    std::vector<float> frames ((size_t) length);
    for (int i = 0; i < length; ++i)
        frames[(size_t) i] = (float) i / (float) length;
    return frames;
}

inline std::vector<float> constant (int length, float value = 1.0f)
{
    return std::vector<float> ((size_t) length, value);
}

// A processor prepared for the rate, with the reverb dry, no drift and no ornament, so a voice
// plays its note plainly unless a test asks otherwise.
inline std::unique_ptr<KestruneProcessor> plainProcessor (int instrument = harp, double sampleRate = 44100.0)
{
    auto p = std::make_unique<KestruneProcessor>();
    p->random.setSeed (1234);
    setParameter (*p, "instrument", (float) instrument);
    setParameter (*p, "drift", 0.0f);
    setParameter (*p, "ornament", 0.0f);
    setParameter (*p, "brightness", 100.0f);
    setParameter (*p, "reverbMix", 0.0f);
    p->prepareToPlay (sampleRate, 512);
    return p;
}

inline int activeVoices (const KestruneProcessor& p)
{
    int n = 0;
    for (const auto& v : p.voices)
        n += v.active ? 1 : 0;
    return n;
}

// Number of samples a voice-level quantity takes to satisfy `done`, stepping the voice pass alone.
inline int samplesUntil (KestruneProcessor& p, const std::function<bool()>& done, int limit = 1000000)
{
    for (int n = 1; n <= limit; ++n)
    {
        int count = 0;
        p.voicePass (count);
        if (done())
            return n;
    }
    return -1;
}
} // namespace enginetest
