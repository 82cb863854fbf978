#include "core/PluginProcessor.h"
#include "engine/SampledVoice.h"
#include "engine/Synth.h"

namespace
{
constexpr int chant = 6;
constexpr int rhodes = 7;

bool isSynthesised (int instrument) noexcept { return instrument == chant || instrument == rhodes; }

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

double KestruneProcessor::zoneIncrement (int note, const SampleZone* zone) const noexcept
{
    if (zone == nullptr)
        return 1.0;

    return std::pow (2.0, (double) (note - zone->rootNote) / 12.0) * (zone->sampleRate / currentSampleRate);
}

void KestruneProcessor::noteOn (int note, float velocity)
{
    auto& v = chooseVoice (voices);

    v.active = true;
    v.note = note;
    v.velocity = velocity;
    v.readPosition = 0.0;
    v.releasing = false;
    v.level = 0.0f;

    sampled::attachZone (v, findZone (activeInstrument, note), currentSampleRate);
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
    v.driftStep = v.driftRate / sr;
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

void KestruneProcessor::noteOff (int note)
{
    for (auto& v : voices)
        if (v.active && v.note == note && ! v.releasing)
            v.releasing = true;
}

void KestruneProcessor::stopAllVoices()
{
    for (auto& v : voices)
        v.active = false;
}

void KestruneProcessor::releaseAllVoices()
{
    for (auto& v : voices)
        if (v.active && ! v.releasing)
            v.releasing = true;
}

// The instrument selected now decides how every voice sounds, whichever instrument started it. A
// voice without a zone under a sampled instrument is frozen: counted, but neither rendered nor ended.
float KestruneProcessor::voicePass (int& voiceCount) noexcept
{
    const auto synthesised = isSynthesised (activeInstrument);
    auto sum = 0.0f;
    voiceCount = 0;

    for (auto& v : voices)
    {
        if (! v.active)
            continue;

        ++voiceCount;

        if (v.zone == nullptr && ! synthesised)
            continue;

        if (! v.releasing)
        {
            v.level = juce::jmin (v.level + block.attackStep, 1.0f);
        }
        else
        {
            v.level -= block.releaseStep;
            if (v.level <= 0.0f)
            {
                v.active = false;
                continue;
            }
        }

        if (v.gliding)
            expression::advanceGlide (v);

        const auto trill = expression::trillOffset (v, block, modWheel);
        const auto drift = expression::driftOffset (v, block);
        const auto pitch = expression::pitchFactor (drift + trill);

        float output;
        if (activeInstrument == chant)
            output = synth::chantSample (v, block, random, pitch);
        else if (activeInstrument == rhodes)
            output = synth::rhodesSample (v, block, pitch);
        else
            output = sampled::nextSample (v, pitch);

        sum += output * v.level * v.velocity;
    }

    return sum;
}
