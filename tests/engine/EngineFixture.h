#pragma once

#include <gtest/gtest.h>
#include "EngineProbe.h"
#include "MidiHelpers.h"
#include "core/ParameterTable.h"
#include "engine/SoundEngine.h"

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

// An engine over a bank of its own, driven the way the plug-in drives it: the twelve values as a
// plain struct, blocks of MIDI into float channels.
namespace enginetest
{
using namespace testmidi;
using kestrune::Parameter;

struct OwnBank
{
    SampleBank samples;
};

enum class Bank { empty, embedded };

class TestEngine : private OwnBank, public Engine
{
public:
    explicit TestEngine (Bank which = Bank::embedded) : Engine (OwnBank::samples)
    {
        if (which == Bank::embedded)
            loadEmbeddedBank (samples);
    }

    using OwnBank::samples;
    EngineParameters params = kestrune::defaultParameters();
    bool editorAttended = true;

    void processBlock (juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi)
    {
        process (buffer, midi, params, editorAttended);
    }
};

// Sets a parameter in its own units, clamped into its range as the plug-in reads it.
inline void setParameter (TestEngine& e, Parameter which, float plainValue)
{
    const auto& row = kestrune::parameterRow (which);
    e.params.*row.field = kestrune::clampToRange (row, plainValue);
}

// Renders a block and returns it. Three channels keep the reverb out, so every channel holds the
// engine's dry output.
inline juce::AudioBuffer<float> render (TestEngine& e, int numSamples, juce::MidiBuffer midi = {}, int channels = 3)
{
    juce::AudioBuffer<float> buffer (channels, numSamples);
    e.processBlock (buffer, midi);
    return buffer;
}

// Dry output of `numSamples` samples rendered as one block.
inline std::vector<float> dryOutput (TestEngine& e, int numSamples, juce::MidiBuffer midi = {})
{
    auto buffer = render (e, numSamples, std::move (midi));
    return { buffer.getReadPointer (0), buffer.getReadPointer (0) + numSamples };
}

// Applies parameters and MIDI without rendering a sample.
inline void apply (TestEngine& e, juce::MidiBuffer midi)
{
    render (e, 0, std::move (midi));
}

// Makes `zone` a loaded recording of these frames.
inline void fillZone (SampleZone& zone, const std::vector<float>& frames, int rootNote = 60, double sampleRate = 44100.0)
{
    zone.buffer.setSize (1, (int) frames.size());
    std::copy (frames.begin(), frames.end(), zone.buffer.getWritePointer (0));
    zone.rootNote = rootNote;
    zone.sampleRate = sampleRate;
    zone.loaded = true;
}

// Replaces an instrument's zones by one synthetic recording.
inline SampleZone& useSyntheticZone (TestEngine& e, int instrument, const std::vector<float>& frames,
                                     int rootNote = 60, double sampleRate = 44100.0)
{
    auto& set = e.samples.zoneSets[zoneSetOf (instrument)];
    set.numZones = 1;
    fillZone (set.zones[0], frames, rootNote, sampleRate);
    return set.zones[0];
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

// An engine prepared for the rate, with the reverb dry, no drift and no ornament, so a voice plays
// its note plainly unless a test asks otherwise.
inline std::unique_ptr<TestEngine> plainProcessor (int instrument = harp, double sampleRate = 44100.0,
                                                   Bank bank = Bank::embedded)
{
    auto e = std::make_unique<TestEngine> (bank);
    e->seedRandom (1234);
    setParameter (*e, Parameter::instrument, (float) instrument);
    setParameter (*e, Parameter::drift, 0.0f);
    setParameter (*e, Parameter::ornament, 0.0f);
    setParameter (*e, Parameter::brightness, 100.0f);
    setParameter (*e, Parameter::reverbMix, 0.0f);
    e->prepare (sampleRate, 512);
    return e;
}

// Number of samples a voice-level quantity takes to satisfy `done`, rendering one sample a block: every
// event and parameter takes effect on its own sample, so this is the state the voices reach in longer
// blocks too.
inline int samplesUntil (TestEngine& e, const std::function<bool()>& done, int limit = 1000000)
{
    for (int n = 1; n <= limit; ++n)
    {
        render (e, 1);
        if (done())
            return n;
    }
    return -1;
}

// The saturator the dry output ends in, with the trim after it: with one voice (or none) at full
// brightness, the tone filter passes the voices' sum and the output stage is this alone.
inline float saturated (const TestEngine& e, float voicesSum)
{
    return std::tanh (EngineProbe::block (e).drive * voicesSum) * 0.92f * Engine::outputTrim;
}

// The voices' sum that gave a dry output sample, for one voice (or none) at full brightness.
inline double voicesSumOf (const TestEngine& e, float output)
{
    return std::atanh ((double) output / (0.92 * Engine::outputTrim)) / EngineProbe::block (e).drive;
}
} // namespace enginetest
