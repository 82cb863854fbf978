#include <gtest/gtest.h>
#include "core/PluginProcessor.h"
#include "core/StateGuard.h"

namespace
{
// Written out rather than read from the parameter table: saved sessions hold these IDs, and renaming
// one in the table must fail here.
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
        "<PARAM id=\"ornament\" value=\"-nan\"/>"
        "<PARAM id=\"reverbMix\" value=\"loud\"/>"           // not the range's start
        "<PARAM id=\"reverbSize\" value=\"5e-4294967296\"/>" // no wrapped exponent
        "<PARAM id=\"focusMode\" value=\"1 and more\"/>"));
    p.setStateInformation (data.getData(), (int) data.getSize());

    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("release")->load(), 3.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("attack")->load(), 0.001f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("instrument")->load(), numInstruments - 1.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("droneVol")->load(), 50.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("brightness")->load(), 70.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("focusMode")->load(), 0.0f);
    // Values that are not numbers fall back to the default, like missing ones.
    EXPECT_NEAR (p.parameters.getRawParameterValue ("volume")->load(), 80.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("drift")->load(), 25.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("ornament")->load(), 60.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("reverbMix")->load(), 30.0f, 1e-4);
    EXPECT_NEAR (p.parameters.getRawParameterValue ("reverbSize")->load(), 50.0f, 1e-4);
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

namespace
{
juce::String repeat (const juce::String& s, int times)
{
    juce::String result;
    result.preallocateBytes ((size_t) (s.getNumBytesAsUTF8() * (size_t) times));
    for (int i = 0; i < times; ++i)
        result << s;
    return result;
}

// A block around raw bytes, so that the text may hold what a juce::String could not.
juce::MemoryBlock rawBlock (const std::string& text, int storedLength = -1)
{
    juce::MemoryOutputStream out;
    out.writeInt (0x21324356);
    out.writeInt (storedLength < 0 ? (int) text.size() : storedLength);
    out.write (text.data(), text.size());
    out.writeByte (0);
    return out.getMemoryBlock();
}

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string volumeTen = "<PARAM id=\"volume\" value=\"10\"/>";

std::string withinRoot (const std::string& inner)
{
    return declaration + "<Parameters>" + inner + volumeTen + "</Parameters>";
}
} // namespace

// Each block would crash, hang or corrupt the state if it reached the parser; each also holds a
// valid value, so a block that is not refused whole shows as a changed volume.
TEST (State, HostileBlocksAreRefusedWhole)
{
    const std::string deep = repeat ("<a>", 5000).toStdString() + repeat ("</a>", 5000).toStdString();
    const std::string laughs = "<!DOCTYPE Parameters [<!ENTITY a \"aaaaaaaaaa\">"
                               "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                               "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                               "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                               "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>";

    struct Case { const char* name; juce::MemoryBlock data; };
    const Case cases[] = {
        { "lead byte before the end", rawBlock (withinRoot ("<a b=\"\xf0\"/>")) },
        { "lead byte as the last byte", rawBlock (declaration + "<Parameters>" + volumeTen + "</Parameters>\xe2") },
        { "bad continuation byte", rawBlock (withinRoot ("<a b=\"\xc3\x28\"/>")) },
        { "stray continuation byte", rawBlock (withinRoot ("<a b=\"\x80\"/>")) },
        { "overlong slash", rawBlock (withinRoot ("<a b=\"\xc0\xaf\"/>")) },
        { "surrogate", rawBlock (withinRoot ("<a b=\"\xed\xa0\x80\"/>")) },
        { "past U+10FFFF", rawBlock (withinRoot ("<a b=\"\xf4\x90\x80\x80\"/>")) },
        { "control character", rawBlock (withinRoot ("<a b=\"\x01\"/>")) },
        { "processing instruction then text", rawBlock (withinRoot ("<?pi x?>text")) },
        { "processing instruction before the root", rawBlock (declaration + "<?pi?><Parameters>" + volumeTen + "</Parameters>") },
        { "self-referring entity", rawBlock ("<!DOCTYPE Parameters [<!ENTITY a \"&a;\">]><Parameters>&a;" + volumeTen + "</Parameters>") },
        { "nested entities", rawBlock (laughs + "<Parameters>&e;" + volumeTen + "</Parameters>") },
        { "DTD alone", rawBlock ("<!DOCTYPE Parameters><Parameters>" + volumeTen + "</Parameters>") },
        { "unknown entity", rawBlock (withinRoot ("&nbsp;")) },
        { "entity without semicolon", rawBlock (withinRoot ("<a b=\"&amp\"/>")) },
        { "numeric reference to zero", rawBlock (withinRoot ("<a b=\"&#0;\"/>")) },
        { "numeric reference past Unicode", rawBlock (withinRoot ("<a b=\"&#x110000;\"/>")) },
        { "numeric reference to a surrogate", rawBlock (withinRoot ("<a b=\"&#xD800;\"/>")) },
        { "numeric reference with too many digits", rawBlock (withinRoot ("<a b=\"&#00000000065;\"/>")) },
        { "numeric reference cut off at the end", rawBlock (declaration + "<Parameters>" + volumeTen + "&#x") },
        { "thousands of nested elements", rawBlock (withinRoot (deep)) },
        { "five levels", rawBlock (withinRoot ("<a><b><c><d/></c></b></a>")) },
        { "base64 attribute, negative length", rawBlock (withinRoot ("<PARAM id=\"drift\" base64:value=\"-5.AAAA\"/>")) },
        { "base64 attribute, huge length", rawBlock (withinRoot ("<PARAM id=\"drift\" base64:value=\"2000000000.AAAA\"/>")) },
        { "repeated value", rawBlock (withinRoot ("<PARAM id=\"drift\" value=\"10\" value=\"nan\"/>")) },
        { "repeated id", rawBlock (withinRoot ("<PARAM id=\"drift\" id=\"attack\" value=\"0.5\"/>")) },
        { "seventeen attributes", rawBlock (withinRoot ("<a a0=\"\" a1=\"\" a2=\"\" a3=\"\" a4=\"\" a5=\"\" a6=\"\" a7=\"\" a8=\"\""
                                                       " a9=\"\" a10=\"\" a11=\"\" a12=\"\" a13=\"\" a14=\"\" a15=\"\" a16=\"\"/>")) },
        { "comment", rawBlock (withinRoot ("<!-- note -->")) },
        { "CDATA", rawBlock (withinRoot ("<![CDATA[x]]>")) },
        { "mismatched close tag", rawBlock (declaration + "<Parameters>" + volumeTen + "</Settings>") },
        { "unterminated root", rawBlock (declaration + "<Parameters>" + volumeTen) },
        { "text after the root", rawBlock (withinRoot ("") + "<Parameters/>") },
        { "attribute without quotes", rawBlock (withinRoot ("<a b=c/>")) },
        { "markup in an attribute", rawBlock (withinRoot ("<a b=\"<\"/>")) },
        { "larger than the bound", rawBlock (withinRoot (std::string ((size_t) kestrune::stateguard::maxBlockBytes, ' '))) },
    };

    KestruneProcessor p;
    for (const auto& c : cases)
    {
        modifyAll (p);
        const auto before = values (p);
        p.setStateInformation (c.data.getData(), (int) c.data.getSize());
        EXPECT_EQ (values (p), before) << c.name;
    }
}

// What our states may hold, and what a state written by hand in plain XML may, still loads.
TEST (State, PlainDocumentsStillLoad)
{
    struct Case { const char* name; std::string text; float volume; int storedLength = -1; };
    const Case cases[] = {
        { "ours", withinRoot (""), 10.0f },
        { "no declaration", "<Parameters>" + volumeTen + "</Parameters>", 10.0f },
        { "spaces and single quotes", "<?xml version='1.0'?>\r\n<Parameters >\n  <PARAM id = 'volume'\tvalue='10' />\n</Parameters >\n", 10.0f },
        { "predefined and numeric references", withinRoot ("<a b=\"&amp;&lt;&gt;&quot;&apos;&#233;&#x1F600;\">&#10;</a>"), 10.0f },
        { "value through references", "<Parameters><PARAM id=\"vol&#117;me\" value=\"&#49;&#x32;\"/></Parameters>", 12.0f },
        { "text beside elements", withinRoot ("some words"), 10.0f },
        { "four levels", withinRoot ("<a><b><c/></b></a>"), 10.0f },
        { "multi-byte text", withinRoot ("<a b=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"/>"), 10.0f },
        { "stored length past the data", "<Parameters>" + volumeTen + "</Parameters>", 10.0f, 100000 },
    };

    KestruneProcessor p;
    for (const auto& c : cases)
    {
        const auto data = rawBlock (c.text, c.storedLength);
        modifyAll (p);
        p.setStateInformation (data.getData(), (int) data.getSize());
        EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("volume")->load(), c.volume) << c.name;
    }
}

// The framework's own test (CharPointer_UTF8::isValidString) lets bad continuation bytes through.
TEST (State, Utf8CheckIsStrict)
{
    using kestrune::stateguard::isStrictUtf8;
    struct Case { std::string bytes; bool valid; };
    const Case cases[] = {
        { "plain ascii \t\r\n", true },
        { "\xc2\x80 \xdf\xbf \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xef\xbf\xbf \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf", true },
        { "\xc3\x28", false },           // continuation byte missing
        { "\xe2\x28\xa1", false },
        { "\xe2\x82\x28", false },       // third byte bad
        { "\xf0\x90\x28\xbc", false },
        { "\xf0\x90\x80\x28", false },   // fourth byte bad
        { "\x80", false },
        { "\xbf\xbf", false },
        { "\xc0\x80", false },           // overlong NUL
        { "\xc1\xbf", false },
        { "\xe0\x9f\xbf", false },       // overlong three-byte
        { "\xf0\x8f\xbf\xbf", false },   // overlong four-byte
        { "\xed\xa0\x80", false },       // surrogate
        { "\xed\xbf\xbf", false },
        { "\xf4\x90\x80\x80", false },   // past U+10FFFF
        { "\xf5\x80\x80\x80", false },
        { "\xff", false },
        { "\xe2\x82", false },           // cut off
        { "\xf0\x9f\x98", false },
        { std::string ("a\0b", 3), false },
        { "\x1b[0m", false },
        { "\x7f", true },
    };
    for (const auto& c : cases)
        EXPECT_EQ (isStrictUtf8 (c.bytes), c.valid) << juce::String::toHexString (c.bytes.data(), (int) c.bytes.size());
}

TEST (State, AcceptedValuesAreFiniteFloatsInRange)
{
    KestruneProcessor p;
    modifyAll (p);
    const auto data = block (paramsXml ("Parameters",
        "<PARAM id=\"volume\" value=\"1e39\"/>"          // finite as a double, infinite as a float
        "<PARAM id=\"drift\" value=\"-1e39\"/>"
        "<PARAM id=\"attack\" value=\"0.5\"/>"
        "<PARAM id=\"attack\" value=\"nan\"/>"           // the last child for an id wins, as before
        "<PARAM id=\"release\" value=\"nan\"/>"
        "<PARAM id=\"release\" value=\"2\"/>"
        "<PARAM id=\"instrument\" value=\"3.0\"/>"));
    p.setStateInformation (data.getData(), (int) data.getSize());

    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("volume")->load(), 80.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("drift")->load(), 25.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("attack")->load(), 0.01f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("release")->load(), 2.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("instrument")->load(), 3.0f);

    // What is saved next is exactly the twelve parameters, once each.
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    const auto xml = juce::parseXML (juce::String::fromUTF8 (saved.begin() + 8, (int) saved.getSize() - 9));
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getNumChildElements(), 12);
    for (auto* id : ids)
        EXPECT_NE (xml->getChildByAttribute ("id", id), nullptr) << id;
}

// Restoring and saving again writes the very bytes that were restored.
TEST (State, CommittedFixtureSavesBackByteForByte)
{
    juce::MemoryBlock data;
    ASSERT_TRUE (fixture().loadFileAsData (data));
    KestruneProcessor p;
    p.setStateInformation (data.getData(), (int) data.getSize());
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    EXPECT_EQ (saved, data);
}
