#include "ProcessorFixture.h"

#include <cmath>

namespace
{
using namespace processortest;

// 19 equal divisions of the octave on Scala's linear map: every key but A4 moves off its 12-TET pitch.
tuning::Table nineteenEdo()
{
    std::string text = "19 equal divisions\n19\n";
    for (int i = 1; i <= 19; ++i)
        text += std::to_string (1200.0 * i / 19.0) + "\n";
    const auto scale = tuning::parseScale (text);
    EXPECT_TRUE (scale.ok()) << scale.error;
    const auto table = tuning::buildTable (scale.value, tuning::linearMap(), "19-EDO");
    EXPECT_TRUE (table.ok()) << table.error;
    return table.value;
}

juce::MemoryBlock saved (KestruneProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

void load (KestruneProcessor& p, const juce::MemoryBlock& block)
{
    p.setStateInformation (block.getData(), (int) block.getSize());
}

juce::MemoryBlock blockOf (const juce::XmlElement& xml)
{
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (xml, block);
    return block;
}

float volume (KestruneProcessor& p) { return p.parameters.getRawParameterValue ("volume")->load(); }

// A real-time single-note tuning change of one key to a pitch in semitones (MIDI note number).
juce::MidiMessage retune (int key, double semitones)
{
    const auto whole = (int) std::floor (semitones);
    const auto fraction = (int) std::lround ((semitones - whole) * 16384.0);
    const juce::uint8 body[] = { 0x7f, 0x7f, 0x08, 0x02, 0x00, 0x01, (juce::uint8) key, (juce::uint8) whole,
                                 (juce::uint8) (fraction >> 7), (juce::uint8) (fraction & 0x7f) };
    return juce::MidiMessage::createSysExMessage (body, (int) sizeof (body));
}

double hz (double semitones) { return 440.0 * std::pow (2.0, (semitones - 69.0) / 12.0); }
} // namespace

TEST (TuningState, SavedBesideTheParametersAndRestoredElsewhere)
{
    KestruneProcessor source, target;
    source.setTuning (nineteenEdo());
    setParameter (source, "volume", 10.0f);
    load (target, saved (source));

    EXPECT_TRUE (target.getTuning() == nineteenEdo());
    EXPECT_EQ (juce::String (target.getTuning().name), "19-EDO");
    EXPECT_FLOAT_EQ (volume (target), 10.0f);

    // Under equal temperament the state holds no tuning element: it reads as states always have.
    KestruneProcessor fresh;
    const auto xml = juce::AudioProcessor::getXmlFromBinary (saved (fresh).getData(), (int) saved (fresh).getSize());
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getChildByName (tuning::xmlTag), nullptr);
    EXPECT_NE (juce::AudioProcessor::getXmlFromBinary (saved (source).getData(), (int) saved (source).getSize())
                   ->getChildByName (tuning::xmlTag),
               nullptr);
}

// A state saved before tunings existed (the committed fixture) or under equal temperament brings
// equal temperament back, whatever the instance played before.
TEST (TuningState, StatesWithoutATuningPlayEqualTemperament)
{
    juce::MemoryBlock fixture;
    ASSERT_TRUE (juce::File (KESTRUNE_FIXTURES_DIR).getChildFile ("state-v1.bin").loadFileAsData (fixture));
    KestruneProcessor defaults;

    for (const auto& block : { fixture, saved (defaults) })
    {
        KestruneProcessor p;
        p.setTuning (nineteenEdo());
        load (p, block);
        EXPECT_TRUE (tuning::isDefault (p.getTuning()));
    }
}

// A damaged tuning element keeps the tuning in force, and the parameters beside it still load.
TEST (TuningState, DamagedTuningElementLoadsTheRestAndKeepsTheTuning)
{
    KestruneProcessor withTuning;
    withTuning.setTuning (nineteenEdo());
    const auto good = juce::AudioProcessor::getXmlFromBinary (saved (withTuning).getData(), (int) saved (withTuning).getSize());
    ASSERT_NE (good, nullptr);
    const auto frequencies = good->getChildByName (tuning::xmlTag)->getStringAttribute ("frequencies");

    juce::StringArray numbers;
    numbers.addTokens (frequencies, " ", {});
    ASSERT_EQ (numbers.size(), tuning::numKeys);
    const auto withNumber = [&] (int key, const juce::String& value) {
        auto copy = numbers;
        copy.set (key, value);
        return copy.joinIntoString (" ");
    };
    auto shorter = numbers;
    shorter.remove (127);
    auto zeros = numbers;
    for (auto& n : zeros)
        n = "0";

    const std::pair<const char*, juce::String> cases[] = {
        { "127 numbers", shorter.joinIntoString (" ") },
        { "129 numbers", frequencies + " 440" },
        { "not a number", withNumber (60, "abc") },
        { "not a number either", withNumber (61, "nan") },
        { "negative", withNumber (62, "-261.6") },
        { "past what a voice plays", withNumber (63, "25000") },
        { "no key mapped", zeros.joinIntoString (" ") },
        { "empty", "" },
    };

    for (const auto& [name, text] : cases)
    {
        SCOPED_TRACE (name);
        juce::XmlElement xml ("Parameters");
        auto* param = xml.createNewChildElement ("PARAM");
        param->setAttribute ("id", "volume");
        param->setAttribute ("value", 10.0);
        auto* element = xml.createNewChildElement (tuning::xmlTag);
        element->setAttribute ("name", "damaged");
        element->setAttribute ("frequencies", text);

        KestruneProcessor p;
        p.setTuning (nineteenEdo());
        load (p, blockOf (xml));
        EXPECT_FLOAT_EQ (volume (p), 10.0f);
        EXPECT_TRUE (p.getTuning() == nineteenEdo());
    }
}

// Tuning messages from the host reach the engine, also while an editor's keyboard is merged in, in
// the order sent, beside a note at the same sample; what they set is saved with the state.
TEST (TuningState, TuningMessagesReachTheEngineInOrderAndAreSaved)
{
    for (const bool withKeyboard : { false, true })
    {
        SCOPED_TRACE (withKeyboard ? "with an editor's keyboard" : "without an editor");
        juce::MidiKeyboardState keyboard;
        KestruneProcessor p;
        p.prepareToPlay (48000.0, 256);
        if (withKeyboard)
            p.setEditorKeyboardState (&keyboard);

        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 7);
        midi.addEvent (retune (69, 70.0), 7);
        midi.addEvent (retune (69, 71.25), 7);
        midi.addEvent (retune (60, 59.5), 100);
        render (p, 256, midi);

        const auto table = p.getTuning();
        EXPECT_NEAR (table.frequency[69], hz (71.25), 1.0e-3);
        EXPECT_NEAR (table.frequency[60], hz (59.5), 1.0e-3);
        EXPECT_NEAR (table.frequency[61], hz (61.0), 1.0e-9);

        p.setEditorKeyboardState (nullptr);
        KestruneProcessor restored;
        load (restored, saved (p));
        EXPECT_TRUE (restored.getTuning() == table);
    }
}
