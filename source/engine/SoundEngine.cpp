#include "engine/SoundEngine.h"
#include "engine/Envelopes.h"
#include "engine/Noise.h"
#include "engine/SampledVoice.h"
#include "engine/Synth.h"

namespace
{
// A velocity of 127 plays at full level. Velocities are multiplied by 1/127 where the mod wheel is
// divided by 127: for eight values (9, 13, 18, 26, 36, 52, 72, 104) the two differ in the last bit,
// and the voices' levels are set by the product.
constexpr float velocityScale = 1.0f / 127.0f;

bool startsNote (const juce::MidiBuffer& midi) noexcept
{
    for (const auto event : midi)
        if (Engine::actsOn (event) && (event.data[0] & 0xf0) == 0x90 && event.data[2] > 0)
            return true;
    return false;
}
} // namespace

void Engine::prepare (double sampleRate, int /*maximumBlockSize*/)
{
    // A host that reports no usable rate keeps the previous one rather than dividing by it.
    if (std::isfinite (sampleRate) && sampleRate > 0.0)
        currentSampleRate = sampleRate;

    drone.position = 0.0;
    modWheel = 0.0f;
    output.toneState = 0.0f;
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
            output.settleFocusGain (numSamples, block.focusTarget);
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
    output.toneState = 0.0f;
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
            drone.addTo (scratch.mix, n, *bank, currentSampleRate, block);

        for (int s = 0; s < n; ++s)
        {
            const auto y = output.sample (scratch.mix[s], scratch.count[s], block);
            if (out != nullptr)
                out[start + s] = y;
        }
    }
}

// Follows an instrument change, sets the reverb and derives the values that stay fixed for the block.
// The parameters arrive clamped to their ranges.
void Engine::beginBlock (const EngineParameters& p, bool editorAttended) noexcept
{
    block.focusTarget = (p.focusMode > 0.5f && ! editorAttended) ? 0.0f : 1.0f;

    const auto instrument = (int) p.instrument;
    if (instrument != activeInstrument)
    {
        releaseAllVoices();
        activeInstrument = instrument;
        updateModulation();
    }

    reverbParams.roomSize = p.reverbSize / 100.0f;
    reverbParams.damping = 0.5f;
    reverbParams.wetLevel = p.reverbMix / 100.0f;
    reverbParams.dryLevel = 1.0f - (p.reverbMix / 100.0f) * 0.5f;
    reverbParams.width = 1.0f;
    reverb.setParameters (reverbParams);

    const auto sr = (float) currentSampleRate;
    block.sampleRate = sr;
    block.attackStep = 1.0f / (sr * p.attack);
    block.releaseStep = 1.0f / (sr * p.release);
    block.ornamentAmount = p.ornament / 100.0f;
    block.glideStep = block.ornamentAmount * 0.025f + 0.005f;
    block.driftAmount = p.drift / 100.0f;
    block.droneLevel = p.droneVol / 100.0f;
    block.droneActive = p.droneOn > 0.5f && hasDrone (activeInstrument);
    block.toneCoefficient = (p.brightness / 100.0f) * 0.95f + 0.05f;
    block.drive = (p.volume / 100.0f) * 1.3f;
    block.vibratoDepth = block.driftAmount * 0.008f + 0.003f;
}

// Trill and tremolo settings derived from the mod wheel and the instrument's row; recomputed wherever
// a mod-wheel event applies or the instrument changes.
void Engine::updateModulation() noexcept
{
    const auto sr = block.sampleRate;
    block.trillOn = modWheel > 0.1f;
    block.trillStep = (modWheel * 12.0f + 8.0f) / sr;
    block.tremoloOn = modWheel > 0.05f && hasTremolo (activeInstrument);
    block.tremoloStep = (modWheel * 3.0f + 4.5f) / sr;
    block.tremoloDepth = modWheel * 0.4f;
}

// One event of the MIDI pass. The channel is ignored; the mod wheel also counts as nothing else.
void Engine::applyEvent (const juce::MidiMessageMetadata& event) noexcept
{
    if (! actsOn (event))
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
        noteOn (d1, (float) d2 * velocityScale);
    else if (status == 0x80 || status == 0x90)
        noteOff (d1);
    else if (status == 0xb0 && (d1 == 123 || d1 == 120))
        stopAllVoices();
}

namespace
{
// The first free voice; with none free, the quietest, the lowest index winning a tie.
Voice& chooseVoice (Voice (&voices)[numVoices]) noexcept
{
    for (auto& v : voices)
        if (! v.active)
            return v;

    auto* best = &voices[0];
    auto bestLevel = 999.0f;
    for (auto& v : voices)
    {
        if (v.level < bestLevel)
        {
            best = &v;
            bestLevel = v.level;
        }
    }
    return *best;
}

// A synthesised voice's pitch comes from its note alone, and the glide moves only the read speed of a
// recording; yet the glide runs its course over the samples each voice of the group renders.
void runGlides (Voice* v, const int* rendered) noexcept
{
    for (int l = 0; l < laneWidth; ++l)
        for (int s = 0; s < rendered[l] && v[l].gliding; ++s)
            expression::advanceGlide (v[l]);
}
} // namespace

double Engine::zoneIncrement (int note, const SampleZone* zone, double hostRate) noexcept
{
    if (zone == nullptr)
        return 1.0;

    return std::pow (2.0, (double) (note - zone->rootNote) / 12.0) * (zone->sampleRate / hostRate);
}

int Engine::soundingVoices() const noexcept
{
    int n = 0;
    for (const auto& v : voices)
        n += v.active ? 1 : 0;
    return n;
}

void Engine::noteOn (int note, float velocity) noexcept
{
    auto& v = chooseVoice (voices);

    v.active = true;
    v.note = note;
    v.velocity = velocity;
    v.releasing = false;
    v.level = 0.0f;

    auto& sampledState = v.sampled;
    sampledState.readPosition = 0.0;
    sampled::attachZone (sampledState, bank->findZone (activeInstrument, note), currentSampleRate);
    sampledState.targetIncrement = zoneIncrement (note, sampledState.zone, currentSampleRate);

    // The draws come in a fixed order for every instrument, so the shared sequence never depends on it.
    v.trillPhase = 0.0f;
    v.trillInterval = random.nextBool() ? 1 : 2;
    v.chant = {};
    v.rhodes.carrierPhase = 0.0f;
    v.rhodes.modulatorPhase = random.nextFloat() * 0.1f;
    v.rhodes.modulatorEnvelope = 1.0f;
    v.tremoloPhase = 0.0f;
    v.driftRate = random.nextFloat() * 4.0f + 3.0f;
    v.driftPhase = random.nextFloat() * expression::twoPi;

    // Whatever instrument renders the voice later, its synthesis constants are ready.
    const auto sr = (float) currentSampleRate;
    v.baseFrequency = synth::noteFrequency (note);
    v.driftStep = (double) v.driftRate / currentSampleRate;
    v.rhodes.envelopeDecay = synth::rhodesDecay (note, sr);
    v.rhodes.indexScale = velocity * 4.0f + 1.5f;
    v.chant.formantSet = note < 60 ? 0 : 1;

    // The ornament scoops from the previous note, played through this voice's own zone.
    if (lastNote >= 0 && block.ornamentAmount > 0.05f && lastNote != note)
    {
        v.gliding = true;
        v.glideProgress = 0.0f;
        v.glideStep = block.glideStep;
        sampledState.glideFromIncrement = zoneIncrement (lastNote, sampledState.zone, currentSampleRate);
        sampledState.currentIncrement = sampledState.glideFromIncrement;
    }
    else
    {
        v.gliding = false;
        sampledState.currentIncrement = sampledState.targetIncrement;
    }

    lastNote = note;
}

void Engine::noteOff (int note) noexcept
{
    for (auto& v : voices)
        if (v.active && v.note == note && ! v.releasing)
            v.releasing = true;
}

void Engine::stopAllVoices() noexcept
{
    for (auto& v : voices)
        v.active = false;
}

void Engine::releaseAllVoices() noexcept
{
    for (auto& v : voices)
        if (v.active && ! v.releasing)
            v.releasing = true;
}

// The voices' sum for the next n samples (at most one chunk) into scratch.mix, their count into
// scratch.count. The instrument selected now decides how every voice sounds, whichever instrument
// started it. A voice without a zone under a sampled instrument is frozen: counted, but neither
// rendered nor ended. Voices are added to the mix in order, each sample's sum the same as a voice
// at a time would give.
void Engine::renderVoices (int n) noexcept
{
    jassert (n <= RenderScratch::chunk);
    auto& w = scratch;
    std::fill (w.mix, w.mix + n, 0.0f);
    std::fill (w.count, w.count + n, 0);

    const auto kind = kindOf (activeInstrument);
    int on[numVoices] = {};
    int rendered[numVoices] = {};

    for (int i = 0; i < numVoices; ++i)
    {
        const auto& v = voices[i];
        if (! v.active)
            continue;

        if (v.sampled.zone == nullptr && kind == InstrumentKind::sampled)
        {
            for (int s = 0; s < n; ++s)
                ++w.count[s];
            continue;
        }
        on[i] = 1;
    }

    const auto anyOn = [&on] (int g) { return (on[4 * g] | on[4 * g + 1] | on[4 * g + 2] | on[4 * g + 3]) != 0; };
    for (int g = 0; g < numGroups; ++g)
        if (anyOn (g))
            envelopes::advance (&voices[g * laneWidth], &on[g * laneWidth], block, w.levels[g], &rendered[g * laneWidth], n);

    for (int i = 0; i < numVoices; ++i)
    {
        if (on[i] == 0)
            continue;
        const auto met = voices[i].active ? n : rendered[i] + 1;
        for (int s = 0; s < met; ++s)
            ++w.count[s];
        on[i] = rendered[i] > 0 ? 1 : 0;
    }

    if (kind == InstrumentKind::chant)
        noise::draw (random, rendered, n, w.noise);

    auto& group = w.group;
    for (int g = 0; g < numGroups; ++g)
    {
        if (! anyOn (g))
            continue;

        auto* v = &voices[g * laneWidth];
        const auto* groupOn = &on[g * laneWidth];
        const auto* m = &rendered[g * laneWidth];

        expression::pitchOffsets (v, groupOn, block, modWheel, group, n);

        switch (kind)
        {
            case InstrumentKind::sampled:
                sampled::renderSampled (v, m, group, n);
                break;
            case InstrumentKind::chant:
                runGlides (v, m);
                synth::renderChant (v, groupOn, block, w.noise[g], group, n);
                break;
            case InstrumentKind::rhodes:
                runGlides (v, m);
                synth::renderRhodes (v, groupOn, block, group, n);
                break;
        }
        expression::applyTremolo (v, groupOn, block, group, n);

        // Each sample's sum takes the group's voices in order, one after another, as a voice at a time
        // would; the products come four at once.
        const auto velocity = lanes::gather (v, &Voice::velocity);
        for (int s = 0; s < n; ++s)
        {
            const auto product = lanes::load (group.out[s]) * lanes::load (w.levels[g][s]) * velocity;
            auto sum = w.mix[s];
            for (int l = 0; l < laneWidth; ++l)
                sum = s < m[l] ? sum + product[l] : sum;
            w.mix[s] = sum;
        }
    }
}
