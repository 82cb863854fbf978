// What a musician hears within the first minute: loops without a click, a drone in tune at any rate,
// notes on their own sample whatever the buffer size, no overs at the default settings, and drift that
// keeps moving however long a note is held.
#include "EngineFixture.h"
#include "engine/Expression.h"

#include <cmath>
#include <iomanip>

using namespace enginetest;

namespace
{
// The voice's own output (before the output stage) for `numSamples` samples of one note.
std::vector<float> voiceOutput (TestEngine& e, int note, int numSamples)
{
    setParameter (e, Parameter::attack, 0.001f);
    const auto dry = dryOutput (e, numSamples, midiOf ({ on (note) }));
    std::vector<float> out;
    out.reserve (dry.size());
    for (auto y : dry)
        out.push_back ((float) voicesSumOf (e, y));
    return out;
}

float largestStep (const std::vector<float>& x, size_t from, size_t to)
{
    float largest = 0.0f;
    for (auto i = std::max<size_t> (from, 1); i < to; ++i)
        largest = std::max (largest, std::abs (x[i] - x[i - 1]));
    return largest;
}
} // namespace

// Every recording of the sustained instruments, played at its root so that the read advances one frame
// per sample, through several passes of its loop. A click is a step at the loop point far above the
// recording's own steps; the seam sample is a blend of two neighbouring frames of the same waveform, so
// its step is one of the waveform's own steps, which we allow 10 % above the largest elsewhere in the
// loop (the fade-out weight of the ending frame shifts it by a hair; a click is 2 to 30 times larger).
TEST (Sound, LoopsHaveNoClickAtTheSeam)
{
    const TestEngine bank;
    for (int instrument : { bagpipes, recorder, organ, horn })
    {
        const auto& set = bank.samples.zoneSets[instrument];
        for (int z = 0; z < set.numZones; ++z)
        {
            const auto& zone = set.zones[z];
            ASSERT_TRUE (zone.loaded);
            const auto len = zone.buffer.getNumSamples();
            const auto loopStart = (len * 7) / 10;
            const auto loopLength = len - loopStart;
            SCOPED_TRACE (juce::String (instrument) + " root " + juce::String (zone.rootNote));

            auto e = plainProcessor (instrument, 44100.0, Bank::empty);
            auto& only = e->samples.zoneSets[instrument];
            only.zones[0] = zone;   // the recording under test as the instrument's only zone
            only.numZones = 1;
            const auto out = voiceOutput (*e, zone.rootNote, len + 3 * loopLength);

            // Steps within one pass of the loop, away from its seam.
            const auto elsewhere = largestStep (out, (size_t) (len + 2), (size_t) (len + loopLength - 2));
            for (int pass = 0; pass < 3; ++pass)
            {
                const auto seam = (size_t) (len + pass * loopLength);
                EXPECT_LE (std::abs (out[seam] - out[seam - 1]), elsewhere * 1.1f) << "pass " << pass;
            }
        }
    }
}

namespace
{
// The period of the signal's strongest repetition near `expectedPeriod` samples, by autocorrelation
// with a parabola through the peak.
double measuredPeriod (const std::vector<float>& x, double expectedPeriod)
{
    const auto lo = (int) (expectedPeriod * 0.85), hi = (int) (expectedPeriod * 1.15) + 2;
    const auto n = (int) x.size() - hi - 1;   // the largest lag read is hi + 1
    std::vector<double> r ((size_t) (hi + 2));
    for (int lag = lo - 1; lag <= hi + 1; ++lag)
    {
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += (double) x[(size_t) i] * x[(size_t) (i + lag)];
        r[(size_t) lag] = sum;
    }
    int best = lo;
    for (int lag = lo; lag <= hi; ++lag)
        if (r[(size_t) lag] > r[(size_t) best])
            best = lag;
    const auto a = r[(size_t) best - 1], b = r[(size_t) best], c = r[(size_t) best + 1];
    return best + 0.5 * (a - c) / (a - 2.0 * b + c);
}

std::vector<float> droneAlone (double rate, double seconds)
{
    auto e = plainProcessor (bagpipes, rate);
    setParameter (*e, Parameter::droneOn, 1.0f);
    render (*e, (int) (rate * 0.05));   // past the filter's start
    return dryOutput (*e, (int) (rate * seconds));
}
} // namespace

// The drone's low reed is G2 (note 43); at any host rate it must sound at the pitch it has at the
// recordings' own rate, which is that note.
TEST (Sound, DroneInTuneAtEveryRate)
{
    const auto g2 = 440.0 * std::pow (2.0, (43 - 69) / 12.0);
    for (double rate : { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 })
    {
        const auto period = measuredPeriod (droneAlone (rate, 0.5), rate / g2);
        const auto cents = 1200.0 * std::log2 ((rate / period) / g2);
        EXPECT_LT (std::abs (cents), 2.0) << rate << " Hz";
    }
}

// A note-on in the middle of a block sounds from its own sample.
TEST (Sound, NotesStartOnTheirSample)
{
    struct Case { int blockSize, offset; };
    const Case cases[] = { { 64, 0 }, { 64, 1 }, { 64, 63 }, { 512, 300 }, { 4096, 4000 } };
    for (const auto& c : cases)
    {
        auto e = plainProcessor (harp);
        useSyntheticZone (*e, harp, constant (100000));
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 127), c.offset);
        const auto out = dryOutput (*e, c.blockSize, midi);
        int first = -1;
        for (int s = 0; s < c.blockSize && first < 0; ++s)
            if (! juce::exactlyEqual (out[(size_t) s], 0.0f))
                first = s;
        EXPECT_EQ (first, c.offset) << "block " << c.blockSize;
    }
}

namespace
{
struct TimedEvent
{
    int sample;
    std::vector<juce::uint8> bytes;
};

// The same events rendered in blocks of `blockSize`, stereo, reverb on, a fixed seed.
std::vector<float> renderInBlocks (int instrument, const std::vector<TimedEvent>& events, int total, int blockSize)
{
    TestEngine e;
    e.seedRandom (99);
    setParameter (e, Parameter::instrument, (float) instrument);
    setParameter (e, Parameter::droneOn, 1.0f);
    e.prepare (48000.0, blockSize);

    std::vector<float> out;
    for (int start = 0; start < total; start += blockSize)
    {
        const auto n = std::min (blockSize, total - start);
        juce::MidiBuffer midi;
        for (const auto& ev : events)
            if (ev.sample >= start && ev.sample < start + n)
                midi.addEvent (ev.bytes.data(), (int) ev.bytes.size(), ev.sample - start);
        juce::AudioBuffer<float> buffer (2, n);
        e.processBlock (buffer, midi);
        for (int s = 0; s < n; ++s)
            out.push_back (buffer.getSample (0, s) + buffer.getSample (1, s) * 0.5f);
    }
    return out;
}
} // namespace

// With constant settings the output no longer depends on how the host cuts the time into blocks.
TEST (Sound, OutputDoesNotDependOnTheBlockSize)
{
    const std::vector<TimedEvent> events = {
        { 17, on (60, 100) }, { 700, on (64, 90) }, { 701, on (67, 80) }, { 2500, cc (1, 100) },
        { 4000, off (60) },   { 5123, on (72, 127) }, { 9000, cc (1, 0) }, { 9001, off (64) },
        { 12000, on (64, 50) }, { 15999, off (67) },
    };
    const auto total = 20000;
    for (int instrument = 0; instrument < numInstruments; ++instrument)
    {
        const auto reference = renderInBlocks (instrument, events, total, 1);
        for (int blockSize : { 37, 64, 512, 4096 })
        {
            const auto out = renderInBlocks (instrument, events, total, blockSize);
            float worst = 0.0f;
            for (size_t i = 0; i < out.size(); ++i)
                worst = std::max (worst, std::abs (out[i] - reference[i]));
            EXPECT_LE (worst, 1.0e-6f) << "instrument " << instrument << ", block " << blockSize;
        }
    }
}

// Sixteen notes at full velocity at the default settings (the drone on under BAGPIPES), held and
// released into the reverb's tail: the output stays at or below full scale. Two chords: every other
// semitone from C3, and every major third from E2 (the loudest we found, RHODES at +8.45 dB untrimmed).
TEST (Sound, DefaultSettingsStayAtOrBelowFullScale)
{
    for (int spacing : { 2, 4 })
    for (int instrument = 0; instrument < numInstruments; ++instrument)
    {
        TestEngine e;
        e.seedRandom (7);
        setParameter (e, Parameter::instrument, (float) instrument);
        setParameter (e, Parameter::droneOn, 1.0f);
        e.prepare (44100.0, 512);

        float peak = 0.0f;
        for (int b = 0; b < 44100 * 6 / 512; ++b)
        {
            juce::MidiBuffer midi;
            if (b == 0)
                for (int n = 0; n < 16; ++n)
                    midi.addEvent (juce::MidiMessage::noteOn (1, (spacing == 2 ? 48 : 40) + spacing * n, (juce::uint8) 127), 0);
            if (b == 44100 * 3 / 512)
                midi.addEvent (juce::MidiMessage::allNotesOff (1), 0);
            juce::AudioBuffer<float> buffer (2, 512);
            e.processBlock (buffer, midi);
            peak = std::max (peak, buffer.getMagnitude (0, 512));
        }
        EXPECT_LE (peak, 1.0f) << "instrument " << instrument << ", notes " << spacing << " semitones apart";
    }
}

// A note held for twenty minutes drifts as it did in its first seconds: the drift offsets the voice
// computes stay within 1e-4 semitones of the same formulas evaluated in double precision.
TEST (Sound, DriftKeepsMovingOnVeryLongNotes)
{
    Voice group[laneWidth];
    auto& v = group[0];
    const int on[laneWidth] = { 1, 0, 0, 0 };
    v.driftRate = 6.9f;
    v.driftPhase = 5.1f;
    v.driftStep = (double) v.driftRate / 44100.0;
    BlockValues b;
    b.driftAmount = 1.0f;
    auto w = std::make_unique<VoiceGroup>();

    const auto exact = [&] (long long samplesDone)
    {
        const auto phase = 5.1 + (double) samplesDone * v.driftStep;
        const auto twoPi = 6.283185307179586;
        return (std::sin (twoPi * 0.7 * phase) * 0.3 + std::sin (twoPi * phase) * 0.7) * 0.15;
    };

    const long long total = 20LL * 60 * 44100;
    double worst = 0.0;
    for (long long done = 0; done < total; done += RenderScratch::chunk)
    {
        expression::pitchOffsets (group, on, b, 0.0f, *w, RenderScratch::chunk);
        // Spot checks along the way, and the whole of the last few seconds.
        if (done % (RenderScratch::chunk * 1000) == 0 || done > total - 44100 * 3)
            for (int s = 0; s < RenderScratch::chunk; ++s)
                worst = std::max (worst, std::abs ((double) w->semitones[s][0] - exact (done + s + 1)));
    }
    EXPECT_LT (worst, 1.0e-4);
}

// The whole cycles taken off a sine's phase must be exactly its truncation, or long notes would
// drift in pitch from what the phase says: integers, the doubles either side of them and halves,
// which the rounding inside sends to the even neighbour.
TEST (Sound, WholeCyclesOfAPhaseAreItsTruncation)
{
    std::vector<double> phases { 0.0, 0.25, 0.5, 1.5, 2.5, 3.5, 1.0e6 + 0.5, 4503599627370495.5 };
    for (const double whole : { 1.0, 2.0, 7.0, 12345.0, 1099511627776.0, 4503599627370495.0 })
        for (const auto x : { std::nextafter (whole, 0.0), whole, std::nextafter (whole, 1.0e300) })
            phases.push_back (x);

    for (size_t i = 0; i + 1 < phases.size(); i += 2)
    {
        const auto whole = lanes::wholeCycles (lanes::Doubles { phases[i], phases[i + 1] });
        for (int k = 0; k < 2; ++k)
            EXPECT_EQ (whole[k], (double) (long long) phases[i + (size_t) k]) << std::setprecision (17) << phases[i + (size_t) k];
    }
}
