#include "engine/SoundEngine.h"
#include "engine/Synth.h"

namespace
{
// A complete three-byte channel message; anything else (system messages, sysex, truncated or
// malformed events) the engine ignores.
bool isChannelMessage (const juce::MidiMessageMetadata& event) noexcept
{
    const auto* d = event.data;
    return event.numBytes == 3 && d[0] >= 0x80 && d[0] < 0xf0 && d[1] < 0x80 && d[2] < 0x80;
}

bool startsNote (const juce::MidiBuffer& midi) noexcept
{
    for (const auto event : midi)
        if (isChannelMessage (event) && (event.data[0] & 0xf0) == 0x90 && event.data[2] > 0)
            return true;
    return false;
}
} // namespace

void Engine::prepare (double sampleRate, int /*maximumBlockSize*/)
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

    idle = false;
    quietSamples = 0;
    updateRateConstants();
    reverb.prepare (currentSampleRate);
}

// The CHANT formant coefficients depend on the rate alone.
void Engine::updateRateConstants() noexcept
{
    const auto sr = (float) currentSampleRate;
    for (int k = 0; k < 3; ++k)
    {
        block.formantPole[k] = synth::formantPole (synth::formantPiBandwidth[k], sr);
        block.formantGain[k] = 1.0f - block.formantPole[k];
        for (int set = 0; set < 2; ++set)
            block.formantCosine[set][k] = synth::formantCosine (synth::formantFrequency[set][k], sr);
    }
}

void Engine::process (juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi,
                      const EngineParameters& parameters, bool editorAttended) noexcept
{
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();

    const auto numSamples = buffer.getNumSamples();
    const auto numChannels = buffer.getNumChannels();

    beginBlock (parameters, editorAttended);
    updateModulation();

    // Idle, events still apply (the mod wheel, the instrument), and the focus fade runs its course;
    // only a note or the drone brings the full path back.
    if (idle)
    {
        if (! block.droneActive && ! startsNote (midi))
        {
            for (const auto event : midi)
                applyEvent (event);
            settleFocusGain (numSamples);
            return;
        }
        wake();
    }

    // Each event takes effect at its own sample: render up to it, apply it, go on. Positions outside
    // the block are clamped into it; a block without samples still applies all of its events.
    auto* out = numChannels > 0 ? buffer.getWritePointer (0) : nullptr;
    const auto lastSample = juce::jmax (0, numSamples - 1);
    int rendered = 0;
    for (const auto event : midi)
    {
        const auto at = juce::jlimit (0, lastSample, event.samplePosition);
        if (at > rendered)
        {
            renderSpan (out, rendered, at);
            rendered = at;
        }
        applyEvent (event);
    }
    renderSpan (out, rendered, numSamples);

    for (int ch = 1; ch < numChannels; ++ch)
        buffer.copyFrom (ch, 0, buffer, 0, 0, numSamples);

    // The reverb is mono or stereo; other layouts keep the dry signal on every channel.
    if (numChannels == 2)
        reverb.processStereo (buffer.getWritePointer (0), buffer.getWritePointer (1), numSamples);
    else if (numChannels == 1)
        reverb.processMono (buffer.getWritePointer (0), numSamples);

    // The reverb adds to a dry signal that the saturator already brought close to full scale.
    buffer.applyGain (outputTrim);

    followSilence (buffer);
}

void Engine::wake() noexcept
{
    // The reverb's smoothed gains go to their targets, as a reverb that had run through the silence
    // would have them.
    reverb.clear();
    toneState = 0.0f;
    idle = false;
    quietSamples = 0;
}

void Engine::followSilence (const juce::AudioBuffer<float>& buffer) noexcept
{
    auto sounding = block.droneActive;
    for (const auto& v : voices)
        sounding = sounding || v.active;

    auto peak = 0.0f;
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        peak = juce::jmax (peak, buffer.getMagnitude (ch, 0, buffer.getNumSamples()));

    if (sounding || ! (peak < silenceThreshold))
        quietSamples = 0;
    else
        quietSamples += buffer.getNumSamples();

    idle = (double) quietSamples >= currentSampleRate;
}

// Samples [from, to) of the engine's mono signal into `out` (when there is a channel), chunk by chunk.
// The engine is mono: one value per sample, written to the first channel and copied to the rest later.
void Engine::renderSpan (float* out, int from, int to) noexcept
{
    for (int start = from; start < to; start += RenderScratch::chunk)
    {
        const auto n = juce::jmin (RenderScratch::chunk, to - start);
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
}

// Follows an instrument change, sets the reverb and derives the values that stay fixed for the block.
// The parameters arrive clamped to their ranges.
void Engine::beginBlock (const EngineParameters& p, bool editorAttended) noexcept
{
    const auto attack = p.attack;
    const auto release = p.release;
    const auto droneVol = p.droneVol;
    const auto droneOn = p.droneOn > 0.5f;
    const auto brightness = p.brightness;
    const auto volume = p.volume;
    const auto ornament = p.ornament;
    const auto drift = p.drift;
    const auto reverbMix = p.reverbMix;
    const auto reverbSize = p.reverbSize;
    const auto instrument = (int) p.instrument;
    const auto focusMode = p.focusMode > 0.5f;

    block.focusTarget = (focusMode && ! editorAttended) ? 0.0f : 1.0f;

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
    block.droneActive = droneOn && hasDrone (activeInstrument);
    block.toneCoefficient = (brightness / 100.0f) * 0.95f + 0.05f;
    block.drive = (volume / 100.0f) * 1.3f;
    block.vibratoDepth = block.driftAmount * 0.008f + 0.003f;
}

// Trill and tremolo settings derived from the mod wheel; recomputed wherever a mod-wheel event applies.
void Engine::updateModulation() noexcept
{
    const auto sr = block.sampleRate;
    block.trillOn = modWheel > 0.1f;
    block.trillStep = (modWheel * 12.0f + 8.0f) / sr;
    block.tremoloOn = modWheel > 0.05f;
    block.tremoloStep = (modWheel * 3.0f + 4.5f) / sr;
    block.tremoloDepth = modWheel * 0.4f;
}

// One event of the MIDI pass. The channel is ignored; the mod wheel also counts as nothing else.
void Engine::applyEvent (const juce::MidiMessageMetadata& event) noexcept
{
    if (! isChannelMessage (event))
        return;

    const auto status = event.data[0] & 0xf0;
    const int d1 = event.data[1];
    const int d2 = event.data[2];

    if (status == 0xb0 && d1 == 1)
    {
        modWheel = (float) d2 / 127.0f;
        updateModulation();
    }

    if (status == 0x90 && d2 > 0)
        noteOn (d1, (float) d2 * 0.007874016f);
    else if (status == 0x80 || status == 0x90)
        noteOff (d1);
    else if (status == 0xb0 && (d1 == 123 || d1 == 120))
        stopAllVoices();
}
