#include "core/PluginProcessor.h"
#include "engine/Synth.h"

#include <thread>

namespace
{
// A parameter's raw value inside its range; a value that is not a number reads as the range's start.
float readParameter (const std::atomic<float>* value, float start, float end) noexcept
{
    const auto v = value->load();
    return std::isfinite (v) ? juce::jlimit (start, end, v) : start;
}

bool isOn (const std::atomic<float>* value) noexcept
{
    return readParameter (value, 0.0f, 1.0f) > 0.5f;
}

// A complete three-byte channel message; anything else (system messages, sysex, truncated or
// malformed events) the engine ignores.
bool isChannelMessage (const juce::MidiMessageMetadata& event) noexcept
{
    const auto* d = event.data;
    return event.numBytes == 3 && d[0] >= 0x80 && d[0] < 0xf0 && d[1] < 0x80 && d[2] < 0x80;
}
} // namespace

KestruneProcessor::RawParameters::RawParameters (juce::AudioProcessorValueTreeState& tree)
    : instrument (tree.getRawParameterValue ("instrument")),
      attack (tree.getRawParameterValue ("attack")),
      release (tree.getRawParameterValue ("release")),
      droneVol (tree.getRawParameterValue ("droneVol")),
      droneOn (tree.getRawParameterValue ("droneOn")),
      brightness (tree.getRawParameterValue ("brightness")),
      volume (tree.getRawParameterValue ("volume")),
      ornament (tree.getRawParameterValue ("ornament")),
      drift (tree.getRawParameterValue ("drift")),
      reverbMix (tree.getRawParameterValue ("reverbMix")),
      reverbSize (tree.getRawParameterValue ("reverbSize")),
      focusMode (tree.getRawParameterValue ("focusMode"))
{
    jassert (instrument != nullptr && attack != nullptr && release != nullptr && droneVol != nullptr
             && droneOn != nullptr && brightness != nullptr && volume != nullptr && ornament != nullptr
             && drift != nullptr && reverbMix != nullptr && reverbSize != nullptr && focusMode != nullptr);
}

juce::MidiBuffer KestruneProcessor::makeKeyboardMidi()
{
    // Room for about 1800 three-byte events, far more than a block ever carries.
    juce::MidiBuffer midi;
    midi.ensureSize (16384);
    return midi;
}

void KestruneProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    // A host that reports no usable rate keeps the previous one rather than dividing by it.
    if (std::isfinite (sampleRate) && sampleRate > 0.0)
        currentSampleRate = sampleRate;

    dronePosition = 0.0;
    modWheel = 0.0f;
    toneState = 0.0f;
    lastNote = -1;
    for (auto& v : voices)
        v.active = false;

    reverb.prepare ({ currentSampleRate, (juce::uint32) juce::jmax (1, maximumExpectedSamplesPerBlock), 2 });
}

void KestruneProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();

    const auto numSamples = buffer.getNumSamples();
    const auto numChannels = buffer.getNumChannels();

    beginBlock();
    applyMidi (mergeEditorKeyboard (midi, numSamples));
    updateModulation();

    // The engine is mono: one value per sample, written to the first channel and copied to the rest.
    auto* out = numChannels > 0 ? buffer.getWritePointer (0) : nullptr;
    for (int start = 0; start < numSamples; start += RenderScratch::chunk)
    {
        const auto n = juce::jmin (RenderScratch::chunk, numSamples - start);
        renderVoices (n);
        if (block.droneActive)
            addDrone (n);

        for (int s = 0; s < n; ++s)
        {
            const auto y = outputSample (scratch.mix[s], scratch.count[s]);
            if (out != nullptr)
                out[start + s] = y;
        }
    }

    for (int ch = 1; ch < numChannels; ++ch)
        buffer.copyFrom (ch, 0, buffer, 0, 0, numSamples);

    // JUCE's reverb handles mono and stereo only; other layouts keep the dry signal on every channel.
    if (numChannels == 1 || numChannels == 2)
    {
        juce::dsp::AudioBlock<float> audio (buffer);
        reverb.process (juce::dsp::ProcessContextReplacing<float> (audio));
    }
}

// Reads every parameter once, follows an instrument change, sets the reverb and derives the values
// that stay fixed for the block.
void KestruneProcessor::beginBlock()
{
    const auto attack = readParameter (raw.attack, 0.001f, 1.0f);
    const auto release = readParameter (raw.release, 0.01f, 3.0f);
    const auto droneVol = readParameter (raw.droneVol, 0.0f, 100.0f);
    const auto droneOn = isOn (raw.droneOn);
    const auto brightness = readParameter (raw.brightness, 0.0f, 100.0f);
    const auto volume = readParameter (raw.volume, 0.0f, 100.0f);
    const auto ornament = readParameter (raw.ornament, 0.0f, 100.0f);
    const auto drift = readParameter (raw.drift, 0.0f, 100.0f);
    const auto reverbMix = readParameter (raw.reverbMix, 0.0f, 100.0f);
    const auto reverbSize = readParameter (raw.reverbSize, 0.0f, 100.0f);
    const auto instrument = (int) readParameter (raw.instrument, 0.0f, 7.0f);
    const auto focusMode = isOn (raw.focusMode);

    block.focusTarget = (focusMode && ! editorActive.load()) ? 0.0f : 1.0f;

    if (instrument != activeInstrument)
    {
        releaseAllVoices();
        activeInstrument = instrument;
    }

    reverbParams.roomSize = reverbSize / 100.0f;
    reverbParams.damping = 0.5f;
    reverbParams.wetLevel = reverbMix / 100.0f;
    reverbParams.dryLevel = 1.0f - (reverbMix / 100.0f) * 0.5f;
    reverbParams.width = 1.0f;
    reverb.setParameters (reverbParams);

    const auto sr = (float) currentSampleRate;
    block.sampleRate = sr;
    block.attackStep = 1.0f / (sr * attack);
    block.releaseStep = 1.0f / (sr * release);
    block.ornamentAmount = ornament / 100.0f;
    block.glideStep = block.ornamentAmount * 0.025f + 0.005f;
    block.driftAmount = drift / 100.0f;
    block.droneLevel = droneVol / 100.0f;
    block.droneActive = droneOn && activeInstrument == 0;
    block.toneCoefficient = (brightness / 100.0f) * 0.95f + 0.05f;
    block.drive = (volume / 100.0f) * 1.3f;
    block.vibratoDepth = block.driftAmount * 0.008f + 0.003f;

    for (int k = 0; k < 3; ++k)
    {
        block.formantPole[k] = synth::formantPole (synth::formantPiBandwidth[k], sr);
        block.formantGain[k] = 1.0f - block.formantPole[k];
        for (int set = 0; set < 2; ++set)
            block.formantCosine[set][k] = synth::formantCosine (synth::formantFrequency[set][k], sr);
    }
}

// The mod wheel may have moved in the MIDI pass; trill and tremolo follow it from the block's first sample.
void KestruneProcessor::updateModulation() noexcept
{
    const auto sr = block.sampleRate;
    block.trillOn = modWheel > 0.1f;
    block.trillStep = (modWheel * 12.0f + 8.0f) / sr;
    block.tremoloOn = modWheel > 0.05f;
    block.tremoloStep = (modWheel * 3.0f + 4.5f) / sr;
    block.tremoloDepth = modWheel * 0.4f;
}

// While an editor is open, its keyboard sees the host's notes and adds its own, spread over the
// block. Only the events the engine acts on are copied, so the merge reads no long messages and
// fills a buffer reserved in advance: nothing is allocated here.
const juce::MidiBuffer& KestruneProcessor::mergeEditorKeyboard (const juce::MidiBuffer& midi, int numSamples)
{
    keyboardInUse.store (true);
    auto* keyboard = editorKeyboardState.load();

    if (keyboard == nullptr)
    {
        keyboardInUse.store (false);
        return midi;
    }

    keyboardMidi.clear();
    for (const auto event : midi)
    {
        const auto status = event.data[0] & 0xf0;
        if (isChannelMessage (event) && (status == 0x80 || status == 0x90 || status == 0xb0))
            keyboardMidi.addEvent (event.data, 3, event.samplePosition);
    }

    // A block without samples still takes the keyboard's notes, placed at its start.
    keyboard->processNextMidiBuffer (keyboardMidi, 0, juce::jmax (1, numSamples), true);
    keyboardInUse.store (false);
    return keyboardMidi;
}

void KestruneProcessor::setEditorKeyboardState (juce::MidiKeyboardState* state) noexcept
{
    // Once the old state is unpublished, a block that still holds it is inside the merge with the
    // flag raised; wait that out so the caller may destroy the old state.
    auto* previous = editorKeyboardState.exchange (state);
    if (previous != nullptr && previous != state)
        while (keyboardInUse.load())
            std::this_thread::yield();
}

// Every event applies before the block's first sample; positions within the block are ignored.
void KestruneProcessor::applyMidi (const juce::MidiBuffer& midi)
{
    for (const auto event : midi)
    {
        if (! isChannelMessage (event))
            continue;

        const auto status = event.data[0] & 0xf0;
        const int d1 = event.data[1];
        const int d2 = event.data[2];

        if (status == 0xb0 && d1 == 1)
            modWheel = (float) d2 / 127.0f;

        if (status == 0x90 && d2 > 0)
            noteOn (d1, (float) d2 * 0.007874016f);
        else if (status == 0x80 || status == 0x90)
            noteOff (d1);
        else if (status == 0xb0 && (d1 == 123 || d1 == 120))
            stopAllVoices();
    }
}
