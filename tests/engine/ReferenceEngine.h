#pragma once

#include "engine/SoundEngine.h"

#include <cmath>

// The engine written out formula by formula, with no caching or shortcuts: every value is computed
// where and how the sound is defined, every sample. It shares only the sample bank with the engine,
// so the two can be driven side by side and compared.
class ReferenceEngine
{
public:
    explicit ReferenceEngine (const SampleBank& bankToUse) : bank (bankToUse) {}

    juce::Random random;

    void prepare (double rate)
    {
        sr = rate;
        dronePosition = 0.0;
        modWheel = 0.0f;
        toneState = 0.0f;
        lastNote = -1;
        for (auto& v : voices)
            v.active = false;
        reverb.setSampleRate (rate);
    }

    void process (juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi, const EngineParameters& p,
                  bool editorAttended)
    {
        buffer.clear();
        const auto instrument = (int) p.instrument;
        const auto focusTarget = (p.focusMode > 0.5f && ! editorAttended) ? 0.0f : 1.0f;
        if (instrument != activeInstrument)
        {
            for (auto& v : voices)
                if (v.active && ! v.releasing)
                    v.releasing = true;
            activeInstrument = instrument;
        }

        juce::Reverb::Parameters rp;
        rp.roomSize = p.reverbSize / 100.0f;
        rp.damping = 0.5f;
        rp.wetLevel = p.reverbMix / 100.0f;
        rp.dryLevel = 1.0f - (p.reverbMix / 100.0f) * 0.5f;
        rp.width = 1.0f;
        reverb.setParameters (rp);

        attackStep = 1.0f / ((float) sr * p.attack);
        releaseStep = 1.0f / ((float) sr * p.release);
        ornamentAmount = p.ornament / 100.0f;
        glideStep = ornamentAmount * 0.025f + 0.005f;
        driftAmount = p.drift / 100.0f;
        const auto droneLevel = p.droneVol / 100.0f;
        const auto droneActive = p.droneOn > 0.5f && hasDrone (activeInstrument);
        const auto toneCoefficient = (p.brightness / 100.0f) * 0.95f + 0.05f;
        const auto drive = (p.volume / 100.0f) * 1.3f;

        // Every event applies at its own sample, clamped into the block; a block without samples
        // applies them all.
        const auto numSamples = buffer.getNumSamples();
        for (const auto event : midi)
            if (numSamples == 0)
                applyEvent (event);

        for (int s = 0; s < numSamples; ++s)
        {
            for (const auto event : midi)
                if (std::clamp (event.samplePosition, 0, numSamples - 1) == s)
                    applyEvent (event);

            auto sum = 0.0f;
            int voiceCount = 0;
            for (auto& v : voices)
            {
                if (! v.active)
                    continue;
                voiceCount += 1;
                if (v.zone == nullptr && kindOf (activeInstrument) == InstrumentKind::sampled)
                    continue;
                if (! v.releasing)
                    v.level = std::min (v.level + attackStep, 1.0f);
                else
                {
                    v.level -= releaseStep;
                    if (v.level <= 0.0f)
                    {
                        v.active = false;
                        continue;
                    }
                }
                glide (v);
                const auto trill = trillOffset (v);
                const auto drift = driftOffset (v);
                const auto pitchFactor = std::pow (2.0, (double) (drift + trill) / 12.0);
                float output = 0.0f;
                switch (kindOf (activeInstrument))
                {
                    case InstrumentKind::chant:   output = chant (v, drift, trill); break;
                    case InstrumentKind::rhodes:  output = rhodes (v, drift, trill); break;
                    case InstrumentKind::sampled: output = sampled (v, pitchFactor); break;
                }
                if (hasTremolo (activeInstrument))
                    output *= tremolo (v);
                sum += output * v.level * v.velocity;
            }

            if (droneActive && bank.droneLow.loaded && bank.droneHigh.loaded)
            {
                const auto lenLow = bank.droneLow.buffer.getNumSamples();
                const auto lenHigh = bank.droneHigh.buffer.getNumSamples();
                const auto i = (int) dronePosition;
                const auto frac = (float) (dronePosition - i);
                const auto lerp = [&] (const SampleZone& z, int len)
                {
                    const auto x0 = z.buffer.getSample (0, i % len), x1 = z.buffer.getSample (0, (i + 1) % len);
                    return x0 + frac * (x1 - x0);
                };
                const auto a = lerp (bank.droneLow, lenLow);
                const auto b = lerp (bank.droneHigh, lenHigh);
                const auto wobble = sinf ((float) dronePosition * 0.0001f) * driftAmount * 0.002f + 1.0f;
                sum += wobble * ((b * 0.5f + a * 0.5f) * droneLevel);
                dronePosition += bank.droneLow.sampleRate / sr;
                if (dronePosition >= (double) lenLow)
                    dronePosition -= (double) lenLow;
            }

            if (voiceCount > 1)
                sum = sum / sqrtf ((float) voiceCount);
            toneState = toneState + (sum - toneState) * toneCoefficient;
            focusGain = focusGain + (focusTarget - focusGain) * 0.001f;
            const auto y = tanhf (drive * toneState) * 0.92f * focusGain;
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                buffer.addSample (ch, s, y);
        }

        if (buffer.getNumChannels() == 1)
            reverb.processMono (buffer.getWritePointer (0), buffer.getNumSamples());
        else if (buffer.getNumChannels() == 2)
            reverb.processStereo (buffer.getWritePointer (0), buffer.getWritePointer (1), buffer.getNumSamples());
        buffer.applyGain (Engine::outputTrim);
    }

private:
    struct RefVoice
    {
        bool active = false;
        int note = -1;
        float velocity = 0;
        double readPosition = 0, currentIncrement = 1, targetIncrement = 1;
        const SampleZone* zone = nullptr;
        float level = 0;
        bool releasing = false, gliding = false;
        int glideFromNote = -1;
        float glideProgress = 0, glideStep = 0, driftRate = 0, trillPhase = 0;
        double driftPhase = 0;
        int trillInterval = 1;
        float chantPhase = 0, formantState[3] = {}, carrierPhase = 0, modulatorPhase = 0, modulatorEnvelope = 1, tremoloPhase = 0;
    };

    static constexpr double twoPi = 6.283185307179586;
    const SampleBank& bank;
    RefVoice voices[16];
    int lastNote = -1, activeInstrument = 0;
    float modWheel = 0, toneState = 0, focusGain = 1;
    double dronePosition = 0, sr = 44100.0;
    float attackStep = 0, releaseStep = 0, ornamentAmount = 0, glideStep = 0, driftAmount = 0;
    juce::Reverb reverb;

    void applyEvent (const juce::MidiMessageMetadata& event)
    {
        if (event.numBytes != 3)
            return;
        const auto b0 = event.data[0], d1 = event.data[1], d2 = event.data[2];
        if (b0 < 0x80 || b0 >= 0xf0 || d1 >= 0x80 || d2 >= 0x80)
            return;
        if ((b0 & 0xf0) == 0xb0 && d1 == 1)
            modWheel = (float) d2 / 127.0f;
        if ((b0 & 0xf0) == 0x90 && d2 > 0)
            noteOn (d1, (float) d2 * 0.007874016f);
        else if ((b0 & 0xf0) == 0x80 || ((b0 & 0xf0) == 0x90 && d2 == 0))
        {
            for (auto& v : voices)
                if (v.active && v.note == d1 && ! v.releasing)
                    v.releasing = true;
        }
        else if ((b0 & 0xf0) == 0xb0 && (d1 == 123 || d1 == 120))
            for (auto& v : voices)
                v.active = false;
    }

    double zoneIncrement (int note, const SampleZone* zone) const
    {
        if (zone == nullptr)
            return 1.0;
        return pow (2.0, (double) (note - zone->rootNote) / 12.0) * (zone->sampleRate / sr);
    }

    void noteOn (int note, float velocity)
    {
        RefVoice* v = nullptr;
        for (auto& candidate : voices)
            if (! candidate.active)
            {
                v = &candidate;
                break;
            }
        if (v == nullptr)
        {
            float best = 999.0f;
            for (auto& candidate : voices)
                if (candidate.level < best)
                {
                    best = candidate.level;
                    v = &candidate;
                }
        }
        v->active = true;
        v->note = note;
        v->velocity = velocity;
        v->readPosition = 0;
        v->releasing = false;
        v->level = 0;
        v->zone = bank.findZone (activeInstrument, note);
        v->targetIncrement = zoneIncrement (note, v->zone);
        v->trillPhase = 0;
        v->trillInterval = random.nextBool() ? 1 : 2;
        v->chantPhase = 0;
        v->formantState[0] = v->formantState[1] = v->formantState[2] = 0;
        v->carrierPhase = 0;
        v->modulatorPhase = random.nextFloat() * 0.1f;
        v->modulatorEnvelope = 1.0f;
        v->tremoloPhase = 0;
        v->driftRate = random.nextFloat() * 4.0f + 3.0f;
        v->driftPhase = random.nextFloat() * 6.2831855f;
        if (lastNote >= 0 && ornamentAmount > 0.05f && lastNote != note)
        {
            v->gliding = true;
            v->glideFromNote = lastNote;
            v->glideProgress = 0;
            v->glideStep = glideStep;
            v->currentIncrement = zoneIncrement (lastNote, v->zone);
        }
        else
        {
            v->gliding = false;
            v->currentIncrement = v->targetIncrement;
        }
        lastNote = note;
    }

    void glide (RefVoice& v) const
    {
        if (! v.gliding)
            return;
        v.glideProgress += v.glideStep;
        if (v.glideProgress >= 1.0f)
        {
            v.gliding = false;
            v.glideProgress = 1.0f;
            v.currentIncrement = v.targetIncrement;
            return;
        }
        const auto p = v.glideProgress;
        const auto h = p < 0.5f ? 2.0f * p * p : 1.0f - 2.0f * (1.0f - p) * (1.0f - p);
        const auto from = zoneIncrement (v.glideFromNote, v.zone);
        v.currentIncrement = (v.targetIncrement - from) * h + from;
    }

    float trillOffset (RefVoice& v) const
    {
        if (! (modWheel > 0.1f && ! v.releasing))
            return 0.0f;
        v.trillPhase += (modWheel * 12.0f + 8.0f) / (float) sr;
        if (v.trillPhase >= 1.0f)
            v.trillPhase -= 1.0f;
        float g = v.trillPhase >= 0.5f ? 1.0f : 0.0f;
        if (0.45f < v.trillPhase && v.trillPhase < 0.55f)
            g = (v.trillPhase - 0.45f) / 0.1f;
        return (float) v.trillInterval * g * modWheel;
    }

    float driftOffset (RefVoice& v) const
    {
        if (! (driftAmount > 0.01f))
            return 0.0f;
        v.driftPhase += (double) v.driftRate / sr;
        return ((float) std::sin (twoPi * 0.7 * v.driftPhase) * 0.3f + (float) std::sin (twoPi * v.driftPhase) * 0.7f)
               * driftAmount * 0.15f;
    }

    float sampled (RefVoice& v, double pitchFactor) const
    {
        const auto len = v.zone->buffer.getNumSamples();
        const auto* data = v.zone->buffer.getReadPointer (0);
        const auto loopStart = (len * 7) / 10;
        const auto crossfadeLength = std::min ((int) (sr * 0.1), (len - loopStart) / 2);
        auto pos = (int) v.readPosition;
        while (pos >= len)
        {
            v.readPosition -= len - loopStart;
            pos = (int) v.readPosition;
        }
        const auto frac = (float) (v.readPosition - pos);
        auto s = data[pos] + frac * (data[(pos + 1) % len] - data[pos]);
        const auto remaining = len - pos;
        if (remaining < crossfadeLength && crossfadeLength > 0)
        {
            const auto w = (float) remaining / (float) crossfadeLength;
            const auto j = pos - (len - loopStart);
            if (j >= 0)
                s = w * s + (1.0f - w) * (data[j] + frac * (data[j + 1] - data[j]));
        }
        v.readPosition += pitchFactor * v.currentIncrement;
        return s;
    }

    float pitch (const RefVoice& v, float drift, float trill) const
    {
        const auto base = powf (2.0f, (float) (v.note - 69) / 12.0f) * 440.0f;
        const auto p = (float) pow (2.0, (double) (drift + trill) / 12.0);
        return base * p;
    }

    float formantStage (float x, float& state, float F, float piB) const
    {
        const auto srf = (float) sr;
        auto r = 1.0f - piB / srf;
        if (r < 0.0f)
            r = 0.0f;
        else
            r = std::min (r, 0.999f);
        state = r * state + (1.0f - r) * x;
        return cosf (F * 6.2831855f / srf) * state + x;
    }

    float chant (RefVoice& v, float drift, float trill)
    {
        const auto srf = (float) sr;
        auto f = pitch (v, drift, trill);
        const auto vibrato = (float) std::sin (twoPi * (((v.driftPhase * 0.1 + 5.5) * v.driftPhase) * 0.1));
        f = f * (vibrato * (driftAmount * 0.008f + 0.003f) + 1.0f);
        v.chantPhase += f / srf;
        if (v.chantPhase >= 1.0f)
            v.chantPhase -= 1.0f;
        const auto pulse = expf (v.chantPhase * -3.0f) * (v.chantPhase * 2.0f - 1.0f);
        const auto x = (random.nextFloat() * 2.0f - 1.0f) * 0.03f + pulse;
        const bool high = v.note >= 60;
        const auto o1 = formantStage (x, v.formantState[0], high ? 800.0f : 600.0f, 251.32742f);
        const auto o2 = formantStage (x, v.formantState[1], high ? 1200.0f : 1000.0f, 376.99112f);
        const auto o3 = formantStage (x, v.formantState[2], high ? 2800.0f : 2500.0f, 502.65485f);
        return (o1 * 0.5f + o2 * 0.3f + o3 * 0.2f) * 0.7f;
    }

    float rhodes (RefVoice& v, float drift, float trill)
    {
        const auto srf = (float) sr;
        const auto f = pitch (v, drift, trill);
        const auto k = std::clamp ((float) (v.note - 40) / 40.0f, 0.5f, 2.0f);
        v.modulatorEnvelope = (1.0f - (k * 8.0f + 3.0f) / srf) * v.modulatorEnvelope;
        if (v.modulatorEnvelope < 0.001f)
            v.modulatorEnvelope = 0.001f;
        const auto index = (v.velocity * 4.0f + 1.5f) * v.modulatorEnvelope;
        const auto step = f / srf;
        v.modulatorPhase += step;
        if (v.modulatorPhase >= 1.0f)
            v.modulatorPhase -= 1.0f;
        const auto m = sinf (v.modulatorPhase * 6.2831855f) + sinf (v.modulatorPhase * 7.0f * 6.2831855f) * 0.15f;
        v.carrierPhase += m * index * step + step;
        if (v.carrierPhase >= 1.0f)
            v.carrierPhase -= floorf (v.carrierPhase);
        if (v.carrierPhase < 0.0f)
            v.carrierPhase += 1.0f;
        const auto c = sinf (v.carrierPhase * 6.2831855f) + sinf (v.carrierPhase * 2.0f * 6.2831855f) * 0.08f;
        return c * 0.7f;
    }

    float tremolo (RefVoice& v)
    {
        if (modWheel <= 0.05f)
            return 1.0f;
        v.tremoloPhase += (modWheel * 3.0f + 4.5f) / (float) sr;
        if (v.tremoloPhase >= 1.0f)
            v.tremoloPhase -= 1.0f;
        return 1.0f - (sinf (v.tremoloPhase * 6.2831855f) * 0.5f + 0.5f) * (modWheel * 0.4f);
    }
};
