#include "engine/SoundEngine.h"
#include "engine/SampledVoice.h"
#include "engine/Synth.h"

#include <cstdint>
#include <limits>

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

// Runs the envelopes of a group's four voices (v points at the first) over the next n samples into
// `levels`, and sets `rendered` for each lane that is on: all n, or fewer when its release ends (the
// voice is freed on that sample, counted but silent).
static void advanceEnvelopes (Voice* v, const int* on, const BlockValues& b, float (*levels)[laneWidth],
                              int* rendered, int n) noexcept
{
    using namespace lanes;

    int releasingLanes[laneWidth];
    for (int l = 0; l < laneWidth; ++l)
        releasingLanes[l] = v[l].releasing ? -1 : 0;
    const auto releasing = load (releasingLanes);

    auto level = gather (v, &Voice::level);
    auto sustained = b.attackStep >= 0.0f;
    for (int l = 0; l < laneWidth; ++l)
        sustained = sustained && (on[l] == 0 || (releasingLanes[l] == 0 && juce::exactlyEqual (level[l], 1.0f)));

    if (sustained)
    {
        // Held notes past their attack stay at full level, which the steps below would only confirm
        // (lanes that are off take any value).
        std::fill (&levels[0][0], &levels[0][0] + n * laneWidth, 1.0f);
    }
    else
    {
        // Each lane steps by its own amount (taking away the release step is adding its negation); a
        // rising one stops at full level, a falling one goes on below zero, its voice ending on the
        // first sample at or below it.
        const auto step = releasing ? Floats {} - b.releaseStep : Floats {} + b.attackStep;
        for (int s = 0; s < n; ++s)
        {
            const auto next = level + step;
            const Ints capped = (1.0f < next) & ~releasing;
            level = anyLane (capped) ? (capped ? Floats {} + 1.0f : next) : next;
            store (levels[s], level);
        }
    }

    for (int l = 0; l < laneWidth; ++l)
    {
        if (on[l] == 0)
            continue;

        rendered[l] = n;
        if (releasing[l] != 0)
        {
            for (int s = 0; s < n; ++s)
            {
                if (levels[s][l] <= 0.0f)
                {
                    v[l].active = false;
                    rendered[l] = s;
                    level[l] = levels[s][l];
                    break;
                }
            }
        }
        v[l].level = level[l];
    }
}

namespace
{
// juce::Random's generator, seed' = (seed * a + c) mod 2^48, taken k steps at once: k draws of one
// sample come from the same seed independently rather than one after another.
struct GeneratorJumps
{
    static constexpr std::uint64_t mask = 0xffffffffffffULL;
    std::uint64_t multiplier[numVoices + 1] {};
    std::uint64_t increment[numVoices + 1] {};

    constexpr GeneratorJumps()
    {
        multiplier[0] = 1;
        for (int k = 1; k <= numVoices; ++k)
        {
            multiplier[k] = (multiplier[k - 1] * 0x5deece66dULL) & mask;
            increment[k] = (increment[k - 1] * 0x5deece66dULL + 11) & mask;
        }
    }
};

constexpr GeneratorJumps jumps;

// nextFloat's value for a seed the generator has just produced.
inline float unitFloat (std::uint64_t seed) noexcept
{
    const auto result = (float) (std::uint32_t) (seed >> 16) / 4294967296.0f;
    return juce::jmin (result, 1.0f - std::numeric_limits<float>::epsilon());
}
} // namespace

// CHANT draws its noise sample by sample, voice by voice, from the engine's one random sequence,
// exactly as that many calls to random.nextFloat() would.
void Engine::drawNoise (const int* rendered, int n) noexcept
{
    auto seed = (std::uint64_t) random.getSeed();
    auto drawn = false;
    for (int s = 0; s < n; ++s)
    {
        int k = 0;
        for (int i = 0; i < numVoices; ++i)
        {
            if (s < rendered[i])
            {
                ++k;
                scratch.noise[i / laneWidth][s][i % laneWidth] = unitFloat ((jumps.multiplier[k] * seed + jumps.increment[k]) & GeneratorJumps::mask);
            }
        }
        if (k > 0)
        {
            seed = (jumps.multiplier[k] * seed + jumps.increment[k]) & GeneratorJumps::mask;
            drawn = true;
        }
    }
    if (drawn)
        random.setSeed ((juce::int64) seed);
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

    const auto synthesised = isSynthesised (activeInstrument);
    int on[numVoices] = {};
    int rendered[numVoices] = {};

    for (int i = 0; i < numVoices; ++i)
    {
        const auto& v = voices[i];
        if (! v.active)
            continue;

        if (v.zone == nullptr && ! synthesised)
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
            advanceEnvelopes (&voices[g * laneWidth], &on[g * laneWidth], block, w.levels[g], &rendered[g * laneWidth], n);

    for (int i = 0; i < numVoices; ++i)
    {
        if (on[i] == 0)
            continue;
        const auto met = voices[i].active ? n : rendered[i] + 1;
        for (int s = 0; s < met; ++s)
            ++w.count[s];
        on[i] = rendered[i] > 0 ? 1 : 0;
    }

    if (kindOf (activeInstrument) == InstrumentKind::chant)
        drawNoise (rendered, n);

    auto& group = w.group;
    for (int g = 0; g < numGroups; ++g)
    {
        if (! anyOn (g))
            continue;

        auto* v = &voices[g * laneWidth];
        const auto* groupOn = &on[g * laneWidth];
        const auto* m = &rendered[g * laneWidth];

        expression::pitchOffsets (v, groupOn, block, modWheel, group, n);

        if (synthesised)
        {
            // The glide moves only the read speed of a recording, but it runs its course here too.
            for (int l = 0; l < laneWidth; ++l)
                for (int s = 0; s < m[l] && v[l].gliding; ++s)
                    expression::advanceGlide (v[l]);

            if (kindOf (activeInstrument) == InstrumentKind::chant)
                synth::renderChant (v, groupOn, block, w.noise[g], group, n);
            else
                synth::renderRhodes (v, groupOn, block, group, n);
        }
        else
        {
            sampled::renderSampled (v, m, group, n);
        }

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

float Engine::voicePass (int& voiceCount) noexcept
{
    renderVoices (1);
    voiceCount = scratch.count[0];
    return scratch.mix[0];
}
