#include "engine/Engine.h"
#include "engine/SampledVoice.h"
#include "engine/Synth.h"

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
} // namespace

double Engine::zoneIncrement (int note, const SampleZone* zone) const noexcept
{
    if (zone == nullptr)
        return 1.0;

    return std::pow (2.0, (double) (note - zone->rootNote) / 12.0) * (zone->sampleRate / currentSampleRate);
}

void Engine::noteOn (int note, float velocity) noexcept
{
    auto& v = chooseVoice (voices);

    v.active = true;
    v.note = note;
    v.velocity = velocity;
    v.readPosition = 0.0;
    v.releasing = false;
    v.level = 0.0f;

    sampled::attachZone (v, bank->findZone (activeInstrument, note), currentSampleRate);
    v.targetIncrement = zoneIncrement (note, v.zone);

    // The draws come in a fixed order for every instrument, so the shared sequence never depends on it.
    v.trillPhase = 0.0f;
    v.trillInterval = random.nextBool() ? 1 : 2;
    v.chantPhase = 0.0f;
    v.formantState[0] = v.formantState[1] = v.formantState[2] = 0.0f;
    v.carrierPhase = 0.0f;
    v.modulatorPhase = random.nextFloat() * 0.1f;
    v.modulatorEnvelope = 1.0f;
    v.tremoloPhase = 0.0f;
    v.driftRate = random.nextFloat() * 4.0f + 3.0f;
    v.driftPhase = random.nextFloat() * expression::twoPi;

    // Whatever instrument renders the voice later, its synthesis constants are ready.
    const auto sr = (float) currentSampleRate;
    v.baseFrequency = synth::noteFrequency (note);
    v.driftStep = (double) v.driftRate / currentSampleRate;
    v.envelopeDecay = synth::rhodesDecay (note, sr);
    v.indexScale = velocity * 4.0f + 1.5f;
    v.formantSet = note < 60 ? 0 : 1;

    // The ornament scoops from the previous note, played through this voice's own zone.
    if (lastNote >= 0 && block.ornamentAmount > 0.05f && lastNote != note)
    {
        v.gliding = true;
        v.glideFromNote = lastNote;
        v.glideProgress = 0.0f;
        v.glideStep = block.glideStep;
        v.glideFromIncrement = zoneIncrement (lastNote, v.zone);
        v.currentIncrement = v.glideFromIncrement;
    }
    else
    {
        v.gliding = false;
        v.currentIncrement = v.targetIncrement;
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

// Runs the voice's envelope over the next n samples into `levels` and counts the voice on each
// sample it is met. Returns how many samples it renders: all n, or fewer when its release ends
// (it is freed on that sample, counted but silent).
static int advanceEnvelope (Voice& v, const BlockValues& b, float* levels, int* count, int n) noexcept
{
    int rendered = n;
    auto level = v.level;
    if (! v.releasing)
    {
        for (int s = 0; s < n; ++s)
            levels[s] = level = juce::jmin (level + b.attackStep, 1.0f);
    }
    else
    {
        for (int s = 0; s < n; ++s)
        {
            level -= b.releaseStep;
            if (level <= 0.0f)
            {
                v.active = false;
                rendered = s;
                break;
            }
            levels[s] = level;
        }
    }
    v.level = level;

    const auto met = v.active ? n : rendered + 1;
    for (int s = 0; s < met; ++s)
        ++count[s];
    return rendered;
}

// The voices' sum for the next n samples (at most one chunk) into scratch.mix, their count into
// scratch.count. The instrument selected now decides how every voice sounds, whichever instrument
// started it. A voice without a zone under a sampled instrument is frozen: counted, but neither
// rendered nor ended.
void Engine::renderVoices (int n) noexcept
{
    jassert (n <= RenderScratch::chunk);
    auto& w = scratch;
    std::fill (w.mix, w.mix + n, 0.0f);
    std::fill (w.count, w.count + n, 0);

    const auto synthesised = isSynthesised (activeInstrument);
    int rendered[numVoices] = {};

    for (int i = 0; i < numVoices; ++i)
    {
        auto& v = voices[i];
        if (! v.active)
            continue;

        if (v.zone == nullptr && ! synthesised)
        {
            for (int s = 0; s < n; ++s)
                ++w.count[s];
            continue;
        }
        rendered[i] = advanceEnvelope (v, block, w.levels[i], w.count, n);
    }

    // CHANT draws its noise sample by sample, voice by voice, from the engine's one random sequence.
    if (activeInstrument == chant)
        for (int s = 0; s < n; ++s)
            for (int i = 0; i < numVoices; ++i)
                if (s < rendered[i])
                    w.noise[i][s] = random.nextFloat();

    for (int i = 0; i < numVoices; ++i)
    {
        const auto m = rendered[i];
        if (m == 0)
            continue;

        auto& v = voices[i];
        expression::pitchOffsets (v, block, modWheel, w, m);

        if (activeInstrument == chant || activeInstrument == rhodes)
        {
            // The glide moves only the read speed of a recording, but it runs its course here too.
            for (int s = 0; s < m && v.gliding; ++s)
                expression::advanceGlide (v);

            if (activeInstrument == chant)
                synth::renderChant (v, block, w.noise[i], w, m);
            else
                synth::renderRhodes (v, block, w, m);
        }
        else
        {
            sampled::renderSampled (v, w, m);
        }

        const auto* levels = w.levels[i];
        for (int s = 0; s < m; ++s)
            w.mix[s] += w.out[s] * levels[s] * v.velocity;
    }
}

float Engine::voicePass (int& voiceCount) noexcept
{
    renderVoices (1);
    voiceCount = scratch.count[0];
    return scratch.mix[0];
}
