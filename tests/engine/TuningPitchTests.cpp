// Every instrument plays the tuning: each note's fundamental, measured from the engine's output, lies
// within half a cent of the tuning's frequency for its key.
#include <gtest/gtest.h>
#include "MidiHelpers.h"
#include "core/ParameterTable.h"
#include "engine/SoundEngine.h"

#include <complex>
#include <functional>
#include <memory>
#include <optional>

namespace
{
using namespace testmidi;

constexpr double twoPi = 6.283185307179586;
constexpr double toneRate = 48000.0;

double equalTempered (double key, double a4 = 440.0) { return a4 * std::pow (2.0, (key - 69.0) / 12.0); }

// Recordings that are pure tones at their roots' equal-tempered pitch (three zones a set, an octave
// apart, at a rate of their own), so that a voice sounds a tone at exactly the frequency it plays at.
// The drone reeds are tones too, G2 and G3.
void fillTone (SampleZone& zone, int root, double seconds)
{
    const auto length = (int) (seconds * toneRate);
    zone.buffer.setSize (1, length);
    const auto f = equalTempered (root);
    for (int i = 0; i < length; ++i)
        zone.buffer.setSample (0, i, (float) (0.5 * std::sin (twoPi * f * i / toneRate)));
    zone.rootNote = root;
    zone.sampleRate = toneRate;
    zone.loaded = true;
}

const SampleBank& toneBank()
{
    static const auto bank = [] {
        auto b = std::make_unique<SampleBank>();
        for (auto& set : b->zoneSets)
        {
            set.numZones = 3;
            for (int i = 0; i < 3; ++i)
                fillTone (set.zones[i], 48 + 12 * i, 3.3);
        }
        fillTone (b->droneLow, 43, 3.0);
        fillTone (b->droneHigh, 55, 3.0);
        return b;
    }();
    return *bank;
}

// The frequency near `guess` of out[from, to): the phase of the signal against a tone at the guess,
// taken in Blackman-Harris windows 10 ms apart, turns by 2 pi (f - guess) per second.
double measureFrequency (const std::vector<float>& out, double rate, double guess, int from, int to)
{
    const auto window = (int) (rate * 0.1), hop = (int) (rate * 0.01);
    std::vector<double> weights ((size_t) window);
    for (int n = 0; n < window; ++n)
    {
        const auto x = twoPi * n / window;
        weights[(size_t) n] = 0.35875 - 0.48829 * std::cos (x) + 0.14128 * std::cos (2 * x) - 0.01168 * std::cos (3 * x);
    }
    const auto step = std::polar (1.0, -twoPi * guess / rate);

    std::complex<double> previous;
    double turned = 0.0;
    int hops = -1;
    for (int start = from; start + window <= to; start += hop, ++hops)
    {
        std::complex<double> z, tone = std::polar (1.0, -twoPi * guess * start / rate);
        for (int n = 0; n < window; ++n, tone *= step)
            z += weights[(size_t) n] * (double) out[(size_t) (start + n)] * tone;
        if (hops >= 0)
            turned += std::arg (z * std::conj (previous));
        previous = z;
    }
    return guess + turned / (twoPi * hops * hop / rate);
}

struct Tuning
{
    const char* name;
    std::function<tuning::Table()> table;                // handed to the engine before the note
    std::function<double (int key)> expected;            // Hz, or 0 for a silent key
    double retuneBy = 0.0;                               // semitones a MIDI tuning message moves the note, one second in
};

std::vector<std::uint8_t> singleNoteRetune (int key, double pitch)
{
    const auto fraction = (int) std::lround ((pitch - std::floor (pitch)) * 16384.0);
    return { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 1, (std::uint8_t) key, (std::uint8_t) std::floor (pitch),
             (std::uint8_t) (fraction >> 7), (std::uint8_t) (fraction & 0x7f), 0xf7 };
}

tuning::Table scala (const std::string& scl, const std::string& kbm = {})
{
    const auto scale = tuning::parseScale (scl);
    auto map = kbm.empty() ? tuning::linearMap() : tuning::parseKeyboardMap (kbm).value;
    return tuning::buildTable (scale.value, map, "test").value;
}

// Quarter-comma meantone on C, from its definition: each note a whole number of fifths of
// 5^(1/4) from C, brought into C's octave; A4 at 440 Hz.
double meantone (int key)
{
    static const int fifthsFromC[12] = { 0, 7, 2, -3, 4, -1, 6, 1, 8, 3, -2, 5 };
    const auto centsAboveC = [] (int pitchClass) {
        const auto c = fifthsFromC[pitchClass] * 1200.0 * std::log2 (5.0) / 4.0;
        return c - 1200.0 * std::floor (c / 1200.0);
    };
    return 440.0 * std::pow (2.0, (1200.0 * (key / 12 - 5) + centsAboveC (key % 12) - centsAboveC (9)) / 1200.0);
}

std::vector<Tuning> tunings()
{
    std::string meantoneScl = "quarter-comma meantone\n12\n";
    for (int pc = 1; pc < 12; ++pc)
        meantoneScl += std::to_string (1200.0 * std::log2 (meantone (60 + pc) / meantone (60))) + "\n";
    meantoneScl += "2/1\n";

    std::string edoScl = "19-EDO\n19\n";
    for (int step = 1; step <= 19; ++step)
        edoScl += std::to_string (1200.0 * step / 19.0) + "\n";

    return {
        { "12-TET at 440 Hz", [] { return tuning::defaultTable(); }, [] (int key) { return equalTempered (key); } },
        { "12-TET at 415 Hz", [] { return scala ("equal\n1\n100.0\n", "0\n0\n127\n60\n69\n415\n0\n"); },
          [] (int key) { return equalTempered (key, 415.0); } },
        { "quarter-comma meantone", [meantoneScl] { return scala (meantoneScl); }, meantone },
        { "19-EDO", [edoScl] { return scala (edoScl); }, [] (int key) { return 440.0 * std::pow (2.0, (key - 69) / 19.0); } },
        { "just major on the white keys",
          [] { return scala ("just\n7\n9/8\n5/4\n4/3\n3/2\n5/3\n15/8\n2/1\n",
                             "12\n0\n127\n60\n60\n261.6255653\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n"); },
          [] (int key) {
              static const double ratios[12] = { 1, 0, 9.0 / 8, 0, 5.0 / 4, 4.0 / 3, 0, 3.0 / 2, 0, 5.0 / 3, 0, 15.0 / 8 };
              return 261.6255653 * ratios[key % 12] * std::pow (2.0, key / 12 - 5);
          } },
        { "a held note retuned by MIDI", [] { return tuning::defaultTable(); },
          [] (int key) { return equalTempered (key + 0.37); }, 0.37 },
    };
}

struct Render
{
    double rate;
    int instrument;      // -1: the drone alone, sounding its key
    int key;
};

// A fresh engine plays the key for 1.4 s with every movement off; returns the output.
std::vector<float> play (const Render& r, const tuning::Table& table, const std::vector<std::uint8_t>& retune)
{
    auto engine = std::make_unique<Engine> (toneBank());
    engine->seedRandom (1234);
    engine->prepare (r.rate, 512);
    engine->setTuning (table);

    auto p = kestrune::defaultParameters();
    p.instrument = (float) juce::jmax (0, r.instrument);
    p.drift = 0.0f;
    p.ornament = 0.0f;
    p.droneOn = r.instrument < 0 ? 1.0f : 0.0f;

    const auto total = (int) (r.rate * 1.4), block = 512;
    std::vector<float> out;
    juce::AudioBuffer<float> buffer (3, block);   // three channels: the dry signal, no reverb
    for (int start = 0; start < total; start += block)
    {
        juce::MidiBuffer midi;
        if (start == 0 && r.instrument >= 0)
            midi.addEvent (on (r.key, 100).data(), 3, 0);
        const auto retuneAt = (int) r.rate;
        if (! retune.empty() && start <= retuneAt && retuneAt < start + block)
            midi.addEvent (retune.data(), (int) retune.size(), retuneAt - start);
        engine->process (buffer, midi, p, true);
        out.insert (out.end(), buffer.getReadPointer (0), buffer.getReadPointer (0) + block);
    }
    return out;
}
} // namespace

TEST (TuningPitch, EveryInstrumentSoundsEveryTuningWithinHalfACent)
{
    const int keys[] = { 48, 55, 61, 64, 69, 72, 79 };
    for (const auto& t : tunings())
    {
        const auto table = t.table();
        for (const double rate : { 44100.0, 96000.0 })
        {
            for (int instrument = -1; instrument < numInstruments; ++instrument)
            {
                // The drone sounds G2 (its low reed's key); the MIDI retune is of a played note.
                const std::vector<int> played = instrument < 0 ? std::vector<int> { 43 } : std::vector<int> (std::begin (keys), std::end (keys));
                if (instrument < 0 && t.retuneBy > 0.0)
                    continue;

                for (const auto key : played)
                {
                    SCOPED_TRACE (std::string (t.name) + ", " + (instrument < 0 ? "drone" : instrumentTable[instrument].name)
                                  + ", key " + std::to_string (key) + ", " + std::to_string ((int) rate) + " Hz");
                    const auto retune = t.retuneBy > 0.0 ? singleNoteRetune (key, key + t.retuneBy) : std::vector<std::uint8_t> {};
                    const Render r { rate, instrument, key };
                    const auto out = play (r, table, retune);
                    const auto expected = t.expected (key);

                    // Measured over 1.0 to 1.4 s: past RHODES's bright attack, and after the retune.
                    const auto from = (int) (rate * (retune.empty() ? 1.0 : 1.02)), to = (int) out.size();
                    if (expected <= 0.0)
                    {
                        EXPECT_EQ (*std::max_element (out.begin(), out.end(), [] (float a, float b) { return std::abs (a) < std::abs (b); }), 0.0f);
                        continue;
                    }

                    // CHANT's vibrato holds a small detune of its own while drift is off (its phase
                    // stands still): its reference is the same voice, seeded alike, in equal temperament.
                    auto target = expected;
                    if (instrument == chant)
                    {
                        const auto reference = play (r, tuning::defaultTable(), {});
                        target *= measureFrequency (reference, rate, equalTempered (key), from, to) / equalTempered (key);
                    }
                    const auto measured = measureFrequency (out, rate, target, from, to);
                    EXPECT_NEAR (1200.0 * std::log2 (measured / target), 0.0, 0.5) << measured << " Hz for " << target;
                }
            }
        }
    }
}
