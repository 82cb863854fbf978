#include <gtest/gtest.h>
#include "core/PluginProcessor.h"

namespace
{
const char* const ids[] = { "instrument", "attack", "release", "droneVol", "droneOn", "brightness",
                            "volume", "ornament", "drift", "reverbMix", "reverbSize", "focusMode" };

// Parameter values rounded to the float precision a save and restore keeps (snapping may move the last bit).
std::map<juce::String, double> values (KestruneProcessor& p)
{
    std::map<juce::String, double> result;
    for (auto* id : ids)
        result[id] = std::round (p.parameters.getRawParameterValue (id)->load() * 1.0e4) / 1.0e4;
    return result;
}

void setValue (KestruneProcessor& p, const char* id, float plainValue)
{
    auto* prm = p.parameters.getParameter (id);
    prm->setValueNotifyingHost (prm->convertTo0to1 (plainValue));
}

// A state block in the framework's binary XML layout, with a chosen stored length.
juce::MemoryBlock block (const juce::String& xml, juce::int64 storedLength = -1, juce::uint32 magic = 0x21324356)
{
    juce::MemoryOutputStream out;
    out.writeInt ((int) magic);
    const auto utf8 = xml.toUTF8();
    const auto size = (int) utf8.sizeInBytes() - 1;
    out.writeInt ((int) (storedLength < 0 ? size : storedLength));
    out.write (utf8.getAddress(), (size_t) size);
    out.writeByte (0);
    return out.getMemoryBlock();
}

juce::String paramsXml (const juce::String& root, const juce::String& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">" + children + "</" + root + ">";
}

void modifyAll (KestruneProcessor& p)
{
    setValue (p, "instrument", 2.0f);
    setValue (p, "attack", 0.2f);
    setValue (p, "release", 1.5f);
    setValue (p, "droneVol", 12.3f);
    setValue (p, "droneOn", 1.0f);
    setValue (p, "brightness", 33.3f);
    setValue (p, "volume", 64.0f);
    setValue (p, "ornament", 0.0f);
    setValue (p, "drift", 99.9f);
    setValue (p, "reverbMix", 100.0f);
    setValue (p, "reverbSize", 1.0f);
    setValue (p, "focusMode", 1.0f);
}

juce::File fixture() { return juce::File (KESTRUNE_FIXTURES_DIR).getChildFile ("state-v1.bin"); }
} // namespace

TEST (State, RoundTripBetweenInstances)
{
    KestruneProcessor fresh, other;
    juce::MemoryBlock saved;
    fresh.getStateInformation (saved);
    modifyAll (other);
    other.setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (values (other), values (fresh));

    KestruneProcessor source, target;
    modifyAll (source);
    source.getStateInformation (saved);
    target.setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (values (target), values (source));
    EXPECT_EQ (target.parameters.getRawParameterValue ("instrument")->load(), 2.0f);
}

TEST (State, BlockLayoutAndHarpValue)
{
    KestruneProcessor p;
    setValue (p, "instrument", 2.0f);
    juce::MemoryBlock saved;
    p.getStateInformation (saved);

    ASSERT_GT (saved.getSize(), 9u);
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (saved.getData()), 0x21324356u);
    EXPECT_EQ ((size_t) juce::ByteOrder::littleEndianInt (saved.begin() + 4), saved.getSize() - 9);
    EXPECT_EQ (saved[saved.getSize() - 1], 0);

    const auto xml = juce::parseXML (juce::String::fromUTF8 (saved.begin() + 8, (int) saved.getSize() - 9));
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "Parameters");
    auto* instrument = xml->getChildByAttribute ("id", "instrument");
    ASSERT_NE (instrument, nullptr);
    EXPECT_EQ (instrument->getDoubleAttribute ("value"), 2.0);
}

// A block saved by version 1.0.0 must restore exactly in every later version.
TEST (State, CommittedFixtureRestoresExactly)
{
    if (juce::SystemStats::getEnvironmentVariable ("KESTRUNE_WRITE_FIXTURE", {}).isNotEmpty())
    {
        KestruneProcessor p;
        modifyAll (p);
        juce::MemoryBlock saved;
        p.getStateInformation (saved);
        ASSERT_TRUE (fixture().replaceWithData (saved.getData(), saved.getSize()));
    }

    juce::MemoryBlock data;
    ASSERT_TRUE (fixture().loadFileAsData (data)) << fixture().getFullPathName();

    KestruneProcessor expected, restored;
    modifyAll (expected);
    restored.setStateInformation (data.getData(), (int) data.getSize());
    EXPECT_EQ (values (restored), values (expected));
}

TEST (State, LowerCaseRootAccepted)
{
    KestruneProcessor p;
    const auto data = block (paramsXml ("parameters", "<PARAM id=\"instrument\" value=\"5\"/>"));
    p.setStateInformation (data.getData(), (int) data.getSize());
    EXPECT_EQ (p.parameters.getRawParameterValue ("instrument")->load(), 5.0f);
}

TEST (State, RejectedBlocksChangeNothing)
{
    const auto goodXml = paramsXml ("Parameters", "<PARAM id=\"volume\" value=\"10\"/>");
    const auto good = block (goodXml);

    struct Case { const char* name; juce::MemoryBlock data; };
    std::vector<Case> cases;
    cases.push_back ({ "empty", {} });
    cases.push_back ({ "eight bytes", juce::MemoryBlock (good.getData(), 8) });
    cases.push_back ({ "wrong magic", block (goodXml, -1, 0x12345678) });
    cases.push_back ({ "zero length", block (goodXml, 0) });
    cases.push_back ({ "negative length", block (goodXml, -5 & 0xffffffffLL) });
    cases.push_back ({ "not xml", block ("this is not xml <<<") });
    cases.push_back ({ "wrong root", block (paramsXml ("Settings", "<PARAM id=\"volume\" value=\"10\"/>")) });
    cases.push_back ({ "truncated mid-document", juce::MemoryBlock (good.getData(), good.getSize() / 2) });
    cases.push_back ({ "binary garbage", juce::MemoryBlock (4096, true) });

    for (auto& c : cases)
    {
        KestruneProcessor p;
        modifyAll (p);
        const auto before = values (p);
        p.setStateInformation (c.data.getData(), (int) c.data.getSize());
        EXPECT_EQ (values (p), before) << c.name;
    }
}

TEST (State, AcceptedDocumentsFallBackPerParameter)
{
    // A stored length longer than the data is parsed from the bytes that are there.
    {
        KestruneProcessor p;
        const auto data = block (paramsXml ("Parameters", "<PARAM id=\"volume\" value=\"10\"/>"), 1 << 30);
        p.setStateInformation (data.getData(), (int) data.getSize());
        EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("volume")->load(), 10.0f);
    }

    // Unknown ids are ignored, missing parameters take their defaults, out-of-range values clamp.
    KestruneProcessor p;
    modifyAll (p);
    const auto data = block (paramsXml ("Parameters",
        "<PARAM id=\"nonsense\" value=\"3\"/>"
        "<PARAM id=\"release\" value=\"99\"/>"
        "<PARAM id=\"attack\" value=\"-4\"/>"
        "<PARAM id=\"instrument\" value=\"42\"/>"
        "<PARAM id=\"droneVol\"/>"
        "<PARAM id=\"volume\" value=\"nan\"/>"
        "<PARAM id=\"drift\" value=\"inf\"/>"
        "<PARAM id=\"ornament\" value=\"-nan\"/>"));
    p.setStateInformation (data.getData(), (int) data.getSize());

    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("release")->load(), 3.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("attack")->load(), 0.001f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("instrument")->load(), 7.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("droneVol")->load(), 50.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("brightness")->load(), 70.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("focusMode")->load(), 0.0f);
    // Values that are not numbers fall back to the default, like missing ones.
    EXPECT_NEAR (p.parameters.getRawParameterValue ("volume")->load(), 80.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("drift")->load(), 25.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("ornament")->load(), 60.0f, 1e-4);
    for (auto* id : ids)
        EXPECT_TRUE (std::isfinite (p.parameters.getRawParameterValue (id)->load())) << id;
}

// Random corruption of a valid block never crashes and never leaves a value outside its range.
TEST (State, FuzzedBlocksStayInRange)
{
    KestruneProcessor source;
    modifyAll (source);
    juce::MemoryBlock saved;
    source.getStateInformation (saved);

    KestruneProcessor p;
    juce::Random rng (1234);
    for (int iteration = 0; iteration < 3000; ++iteration)
    {
        juce::MemoryBlock data (saved);
        const auto edits = 1 + rng.nextInt (8);
        for (int e = 0; e < edits; ++e)
            data[(size_t) rng.nextInt ((int) data.getSize())] = (char) rng.nextInt (256);
        const auto size = rng.nextBool() ? (int) data.getSize() : rng.nextInt ((int) data.getSize() + 1);
        p.setStateInformation (data.getData(), size);

        for (auto* id : ids)
        {
            auto* prm = p.parameters.getParameter (id);
            const auto v = p.parameters.getRawParameterValue (id)->load();
            ASSERT_TRUE (std::isfinite (v)) << id;
            ASSERT_GE (v, prm->getNormalisableRange().start) << id;
            ASSERT_LE (v, prm->getNormalisableRange().end) << id;
        }
    }
}
