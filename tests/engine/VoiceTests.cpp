#include "EngineFixture.h"

using namespace enginetest;

// Samples from the start of an attack until full level, and from full level until a release ends.
TEST (Envelope, AttackAndReleaseLengths)
{
    struct Case { Parameter which; float seconds; int expected; };
    const Case cases[] = { { Parameter::attack, 0.01f, 441 }, { Parameter::attack, 0.001f, 45 }, { Parameter::release, 0.01f, 441 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (kestrune::parameterRow (c.which).id) + " " + juce::String (c.seconds));
        auto p = plainProcessor();
        useSyntheticZone (*p, harp, constant (100000));
        setParameter (*p, c.which, c.seconds);
        const auto atFullLevel = [&] { return p->voice (0).level >= 1.0f; };

        if (c.which == Parameter::attack)
        {
            apply (*p, midiOf ({ on (60) }));
            EXPECT_EQ (samplesUntil (*p, atFullLevel), c.expected);
        }
        else
        {
            setParameter (*p, Parameter::attack, 0.001f);
            apply (*p, midiOf ({ on (60) }));
            samplesUntil (*p, atFullLevel);
            apply (*p, midiOf ({ off (60) }));
            EXPECT_EQ (samplesUntil (*p, [&] { return ! p->voice (0).active; }), c.expected);
        }
    }
}

TEST (Envelope, ReleaseDuringAttackFallsFromReachedLevelAtTheFullRate)
{
    auto p = plainProcessor();
    useSyntheticZone (*p, harp, constant (100000));
    setParameter (*p, Parameter::attack, 1.0f);     // 44100 samples to full level
    setParameter (*p, Parameter::release, 0.01f);   // 441 samples from full level
    apply (*p, midiOf ({ on (60) }));
    render (*p, 4410);
    EXPECT_NEAR (p->voice (0).level, 0.1f, 1.0e-4f);

    apply (*p, midiOf ({ off (60) }));
    EXPECT_NEAR (samplesUntil (*p, [&] { return ! p->voice (0).active; }), 44, 1);
}

TEST (MidiPass, NoteOnAndOffOnOneSampleIsSilentButSetsLastNote)
{
    auto p = plainProcessor();
    useSyntheticZone (*p, harp, constant (1000));
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 127), 10);
    midi.addEvent (juce::MidiMessage::noteOff (1, 64), 10);
    const auto out = dryOutput (*p, 64, midi);

    for (auto y : out)
        EXPECT_EQ (y, 0.0f);
    EXPECT_EQ (p->soundingVoices(), 0);
    EXPECT_EQ (EngineProbe::lastNote (*p), 64);
}

TEST (MidiPass, ReleasesAndStops)
{
    const auto harpEngine = [] {
        auto p = plainProcessor();
        useSyntheticZone (*p, harp, constant (100000));
        return p;
    };

    // Velocity 0 is a note-off.
    auto p = harpEngine();
    apply (*p, midiOf ({ on (60), on (60, 0) }));
    EXPECT_TRUE (p->voice (0).releasing);

    // Two voices on one note: one note-off releases both; other notes are untouched.
    p = harpEngine();
    apply (*p, midiOf ({ on (62), on (62), on (65), off (62) }));
    EXPECT_TRUE (p->voice (0).releasing && p->voice (1).releasing);
    EXPECT_FALSE (p->voice (2).releasing);

    // 120 and 123 free every voice at once, releasing ones included; the mod wheel survives.
    for (int controller : { 120, 123 })
    {
        apply (*p, midiOf ({ cc (1, 64), on (67), on (69), off (69), cc (controller, 0) }));
        EXPECT_EQ (p->soundingVoices(), 0) << controller;
        EXPECT_FLOAT_EQ (EngineProbe::modWheel (*p), 64.0f / 127.0f);
    }
}

TEST (MidiPass, EveryChannelActsAlike)
{
    for (int channel = 0; channel < 16; ++channel)
    {
        auto p = plainProcessor();
        useSyntheticZone (*p, harp, constant (1000));
        apply (*p, midiOf ({ cc (1, 100, channel), on (70, 100, channel) }));
        ASSERT_TRUE (p->voice (0).active) << channel;
        EXPECT_FLOAT_EQ (p->voice (0).velocity, 100.0f * 0.007874016f);
        EXPECT_FLOAT_EQ (EngineProbe::modWheel (*p), 100.0f / 127.0f);
        apply (*p, midiOf ({ off (70, channel) }));
        EXPECT_TRUE (p->voice (0).releasing) << channel;
    }
}

TEST (MidiPass, MalformedAndForeignMessagesDoNothing)
{
    auto p = plainProcessor();
    useSyntheticZone (*p, harp, constant (1000));

    juce::MidiBuffer midi;
    const juce::uint8 truncatedNote[] = { 0x90, 60 };
    const juce::uint8 sysex[] = { 0xf0, 0x90, 60, 100, 0xb0, 1, 127, 0xf7 };
    const juce::uint8 highDataByte[] = { 0x90, 0xbc, 100 };
    const juce::uint8 pitchBend[] = { 0xe0, 0, 127 };
    const juce::uint8 sustain[] = { 0xb0, 64, 127 };
    const juce::uint8 programChange[] = { 0xc0, 5 };
    midi.addEvent (truncatedNote, 2, 0);
    midi.addEvent (sysex, (int) sizeof (sysex), 1);
    midi.addEvent (highDataByte, 3, 2);
    midi.addEvent (pitchBend, 3, 3);
    midi.addEvent (sustain, 3, 4);
    midi.addEvent (programChange, 2, 5);
    apply (*p, midi);

    EXPECT_EQ (p->soundingVoices(), 0);
    EXPECT_EQ (EngineProbe::modWheel (*p), 0.0f);
    EXPECT_EQ (EngineProbe::lastNote (*p), -1);
}

// Every voice struck at once rises through a one-second attack; those released on the way fall from
// there, the earliest released the quietest.
TEST (VoicePool, StealsTheQuietestLowestIndexFirstAndNeverWhileOneIsFree)
{
    struct Case { std::vector<std::vector<int>> releasedInTurn; int struck; int expected; };
    const Case cases[] = {
        { { { 9 }, { 5 } }, numVoices, 9 },
        { { { 3, 12 } }, numVoices, 3 },         // a tie goes to the lower index
        { { { 2 } }, numVoices - 1, 15 },        // a free voice beats a quiet one
    };

    for (const auto& c : cases)
    {
        auto p = plainProcessor();
        useSyntheticZone (*p, harp, constant (1000));
        setParameter (*p, Parameter::attack, 1.0f);
        setParameter (*p, Parameter::release, 3.0f);

        // The voices fill in order, voice i playing note 40 + i.
        juce::MidiBuffer notes;
        for (int n = 0; n < c.struck; ++n)
            notes.addEvent (juce::MidiMessage::noteOn (1, 40 + n, (juce::uint8) 127), 0);
        render (*p, 20000, notes);
        for (const auto& released : c.releasedInTurn)
        {
            juce::MidiBuffer offs;
            for (int index : released)
                offs.addEvent (juce::MidiMessage::noteOff (1, 40 + index), 0);
            render (*p, 1000, offs);
        }

        apply (*p, midiOf ({ on (90, 64) }));
        const auto v = p->voice (c.expected);
        EXPECT_EQ (v.note, 90);
        EXPECT_FALSE (v.releasing);
        EXPECT_EQ (v.level, 0.0f);
        EXPECT_EQ (p->soundingVoices(), numVoices);
    }
}

TEST (VoicePool, EveryNoteOnDrawsOneBoolThenThreeFloats)
{
    for (int instrument : { harp, chant, rhodes })
    {
        auto p = plainProcessor (instrument);
        p->seedRandom (77);
        juce::Random expected (77);

        // The second note's draws follow straight on from the first's: no further draws between them.
        apply (*p, midiOf ({ on (60), on (64) }));
        for (int index : { 0, 1 })
        {
            const auto v = p->voice (index);
            EXPECT_EQ (v.trillInterval, expected.nextBool() ? 1 : 2) << index;
            EXPECT_FLOAT_EQ (v.rhodes.modulatorPhase, expected.nextFloat() * 0.1f);
            EXPECT_FLOAT_EQ (v.driftRate, expected.nextFloat() * 4.0f + 3.0f);
            EXPECT_FLOAT_EQ (v.driftPhase, expected.nextFloat() * 6.2831855f);
        }
    }
}

TEST (InstrumentChange, ReleasesHeldVoicesAndTheNextNoteUsesTheNewInstrument)
{
    auto p = plainProcessor (harp);
    apply (*p, midiOf ({ on (60) }));
    ASSERT_NE (p->voice (0).sampled.zone, nullptr);

    setParameter (*p, Parameter::instrument, (float) organ);
    apply (*p, midiOf ({ on (64) }));

    EXPECT_TRUE (p->voice (0).releasing);
    EXPECT_EQ (EngineProbe::activeInstrument (*p), organ);
    EXPECT_EQ (p->voice (1).sampled.zone, p->samples.findZone (organ, 64));
    EXPECT_FALSE (p->voice (1).releasing);
}

TEST (InstrumentChange, SampledVoiceReleasesThroughChant)
{
    auto p = plainProcessor (harp);
    useSyntheticZone (*p, harp, constant (100000));
    setParameter (*p, Parameter::release, 3.0f);
    apply (*p, midiOf ({ on (60) }));
    render (*p, 100);
    const auto position = p->voice (0).sampled.readPosition;

    setParameter (*p, Parameter::instrument, (float) chant);
    const auto out = dryOutput (*p, 256);

    const auto v = p->voice (0);
    EXPECT_TRUE (v.active && v.releasing);
    EXPECT_GT (v.chant.pulsePhase, 0.0f);
    EXPECT_EQ (v.sampled.readPosition, position);
    EXPECT_GT (std::abs (*std::min_element (out.begin(), out.end())), 0.05f);
}

TEST (InstrumentChange, ChantVoiceFreezesUnderASampledInstrumentUntilCleared)
{
    const std::function<void (TestEngine&)> clearers[] = {
        [] (TestEngine& p) { apply (p, midiOf ({ cc (120, 0) })); },
        [] (TestEngine& p) { apply (p, midiOf ({ cc (123, 0) })); },
        [] (TestEngine& p) { p.prepare (44100.0, 512); },
        [] (TestEngine& p) {
            // Fifteen louder voices leave the frozen one the quietest.
            juce::MidiBuffer louder;
            for (int n = 1; n < numVoices; ++n)
                louder.addEvent (juce::MidiMessage::noteOn (1, 30 + n, (juce::uint8) 127), 0);
            render (p, 1000, louder);
            apply (p, midiOf ({ on (30) }));
        },
    };

    for (const auto& clear : clearers)
    {
        auto p = plainProcessor (chant);
        apply (*p, midiOf ({ on (60) }));
        render (*p, 100);
        const auto frozen = p->voice (0);

        setParameter (*p, Parameter::instrument, (float) harp);
        render (*p, 512);

        const auto v = p->voice (0);
        EXPECT_TRUE (v.active && v.releasing);
        EXPECT_EQ (v.level, frozen.level);
        EXPECT_EQ (v.chant.pulsePhase, frozen.chant.pulsePhase);
        EXPECT_EQ (v.driftPhase, frozen.driftPhase);
        EXPECT_EQ (p->soundingVoices(), 1);

        clear (*p);
        EXPECT_TRUE (! p->voice (0).active || p->voice (0).note != 60);
    }
}
