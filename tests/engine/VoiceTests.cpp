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
        auto& v = EngineProbe::voices (*p)[0];

        if (c.which == Parameter::attack)
        {
            apply (*p, midiOf ({ on (60) }));
            EXPECT_EQ (samplesUntil (*p, [&] { return v.level >= 1.0f; }), c.expected);
        }
        else
        {
            setParameter (*p, Parameter::attack, 0.001f);
            apply (*p, midiOf ({ on (60) }));
            samplesUntil (*p, [&] { return v.level >= 1.0f; });
            apply (*p, midiOf ({ off (60) }));
            EXPECT_EQ (samplesUntil (*p, [&] { return ! v.active; }), c.expected);
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
    for (int i = 0; i < 4410; ++i)
    {
        int count = 0;
        EngineProbe::voicePass (*p, count);
    }
    EXPECT_NEAR (EngineProbe::voices (*p)[0].level, 0.1f, 1.0e-4f);

    apply (*p, midiOf ({ off (60) }));
    EXPECT_NEAR (samplesUntil (*p, [&] { return ! EngineProbe::voices (*p)[0].active; }), 44, 1);
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
    EXPECT_EQ (activeVoices (*p), 0);
    EXPECT_EQ (EngineProbe::lastNote (*p), 64);
}

TEST (MidiPass, ReleasesAndStops)
{
    auto p = plainProcessor();
    useSyntheticZone (*p, harp, constant (100000));

    // Velocity 0 is a note-off.
    apply (*p, midiOf ({ on (60), on (60, 0) }));
    EXPECT_TRUE (EngineProbe::voices (*p)[0].releasing);

    // Two voices on one note: one note-off releases both; other notes are untouched.
    EngineProbe::stopAllVoices (*p);
    apply (*p, midiOf ({ on (62), on (62), on (65), off (62) }));
    EXPECT_TRUE (EngineProbe::voices (*p)[0].releasing && EngineProbe::voices (*p)[1].releasing);
    EXPECT_FALSE (EngineProbe::voices (*p)[2].releasing);

    // 120 and 123 free every voice at once, releasing ones included; the mod wheel survives.
    for (int controller : { 120, 123 })
    {
        apply (*p, midiOf ({ cc (1, 64), on (67), on (69), off (69), cc (controller, 0) }));
        EXPECT_EQ (activeVoices (*p), 0) << controller;
        EXPECT_FLOAT_EQ (EngineProbe::modWheel (*p), 64.0f / 127.0f);
    }
}

TEST (MidiPass, EveryChannelActsAlike)
{
    auto p = plainProcessor();
    useSyntheticZone (*p, harp, constant (1000));
    for (int channel = 0; channel < 16; ++channel)
    {
        EngineProbe::stopAllVoices (*p);
        EngineProbe::modWheel (*p) = 0.0f;
        apply (*p, midiOf ({ cc (1, 100, channel), on (70, 100, channel) }));
        ASSERT_TRUE (EngineProbe::voices (*p)[0].active) << channel;
        EXPECT_FLOAT_EQ (EngineProbe::voices (*p)[0].velocity, 100.0f * 0.007874016f);
        EXPECT_FLOAT_EQ (EngineProbe::modWheel (*p), 100.0f / 127.0f);
        apply (*p, midiOf ({ off (70, channel) }));
        EXPECT_TRUE (EngineProbe::voices (*p)[0].releasing) << channel;
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

    EXPECT_EQ (activeVoices (*p), 0);
    EXPECT_EQ (EngineProbe::modWheel (*p), 0.0f);
    EXPECT_EQ (EngineProbe::lastNote (*p), -1);
}

TEST (VoicePool, StealsTheQuietestLowestIndexFirstAndNeverWhileOneIsFree)
{
    struct Case { std::vector<std::pair<int, float>> levels; int freeVoice; int expected; };
    const Case cases[] = {
        { { { 5, 0.2f }, { 9, 0.1f } }, -1, 9 },
        { { { 3, 0.0f }, { 12, 0.0f } }, -1, 3 },    // a tie goes to the lower index
        { { { 2, 0.05f } }, 15, 15 },                // a free voice beats a quiet one
    };

    for (const auto& c : cases)
    {
        auto p = plainProcessor();
        useSyntheticZone (*p, harp, constant (1000));
        for (int n = 0; n < numVoices; ++n)
            EngineProbe::noteOn (*p, 40 + n, 1.0f);
        for (auto& v : EngineProbe::voices (*p))
            v.level = 0.5f;
        for (auto [index, level] : c.levels)
        {
            EngineProbe::voices (*p)[index].level = level;
            EngineProbe::voices (*p)[index].releasing = true;
        }
        if (c.freeVoice >= 0)
            EngineProbe::voices (*p)[c.freeVoice].active = false;

        EngineProbe::noteOn (*p, 90, 0.5f);
        EXPECT_EQ (EngineProbe::voices (*p)[c.expected].note, 90);
        EXPECT_FALSE (EngineProbe::voices (*p)[c.expected].releasing);
        EXPECT_EQ (EngineProbe::voices (*p)[c.expected].level, 0.0f);
        EXPECT_EQ (activeVoices (*p), numVoices);
    }
}

TEST (VoicePool, EveryNoteOnDrawsOneBoolThenThreeFloats)
{
    for (int instrument : { harp, chant, rhodes })
    {
        auto p = plainProcessor (instrument);
        p->seedRandom (77);
        juce::Random expected (77);

        apply (*p, midiOf ({ on (60) }));

        const auto& v = EngineProbe::voices (*p)[0];
        EXPECT_EQ (v.trillInterval, expected.nextBool() ? 1 : 2);
        EXPECT_FLOAT_EQ (v.rhodes.modulatorPhase, expected.nextFloat() * 0.1f);
        EXPECT_FLOAT_EQ (v.driftRate, expected.nextFloat() * 4.0f + 3.0f);
        EXPECT_FLOAT_EQ (v.driftPhase, expected.nextFloat() * 6.2831855f);
        EXPECT_EQ (EngineProbe::random (*p).nextInt(), expected.nextInt()) << "no further draws";
    }
}

TEST (InstrumentChange, ReleasesHeldVoicesAndTheNextNoteUsesTheNewInstrument)
{
    auto p = plainProcessor (harp);
    apply (*p, midiOf ({ on (60) }));
    ASSERT_NE (EngineProbe::voices (*p)[0].sampled.zone, nullptr);

    setParameter (*p, Parameter::instrument, (float) organ);
    apply (*p, midiOf ({ on (64) }));

    EXPECT_TRUE (EngineProbe::voices (*p)[0].releasing);
    EXPECT_EQ (EngineProbe::activeInstrument (*p), organ);
    EXPECT_EQ (EngineProbe::voices (*p)[1].sampled.zone, p->samples.findZone (organ, 64));
    EXPECT_FALSE (EngineProbe::voices (*p)[1].releasing);
}

TEST (InstrumentChange, SampledVoiceReleasesThroughChant)
{
    auto p = plainProcessor (harp);
    useSyntheticZone (*p, harp, constant (100000));
    setParameter (*p, Parameter::release, 3.0f);
    apply (*p, midiOf ({ on (60) }));
    render (*p, 100);
    const auto position = EngineProbe::voices (*p)[0].sampled.readPosition;

    setParameter (*p, Parameter::instrument, (float) chant);
    const auto out = dryOutput (*p, 256);

    const auto& v = EngineProbe::voices (*p)[0];
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
            for (int n = 1; n < numVoices; ++n)
                EngineProbe::noteOn (p, 30 + n, 1.0f);
            render (p, 1000);
            EngineProbe::noteOn (p, 30, 1.0f);
        },
    };

    for (const auto& clear : clearers)
    {
        auto p = plainProcessor (chant);
        apply (*p, midiOf ({ on (60) }));
        render (*p, 100);
        const auto frozen = EngineProbe::voices (*p)[0];

        setParameter (*p, Parameter::instrument, (float) harp);
        render (*p, 512);

        const auto& v = EngineProbe::voices (*p)[0];
        EXPECT_TRUE (v.active && v.releasing);
        EXPECT_EQ (v.level, frozen.level);
        EXPECT_EQ (v.chant.pulsePhase, frozen.chant.pulsePhase);
        EXPECT_EQ (v.driftPhase, frozen.driftPhase);
        int count = 0;
        EngineProbe::voicePass (*p, count);
        EXPECT_EQ (count, 1);

        clear (*p);
        EXPECT_TRUE (! v.active || v.note != 60);
    }
}
