#include <gtest/gtest.h>
#include "engine/Tuning.h"
#include "engine/TuningHandover.h"

#include <cmath>
#include <vector>

using namespace tuning;

namespace
{
double equalTempered (int key, double a4 = 440.0) { return a4 * std::pow (2.0, (key - 69) / 12.0); }

double cents (double f, double reference) { return 1200.0 * std::log2 (f / reference); }

Table built (std::string_view scl, std::string_view kbm = {})
{
    const auto scale = parseScale (scl);
    EXPECT_TRUE (scale.ok()) << scale.error;
    auto map = linearMap();
    if (! kbm.empty())
    {
        auto parsed = parseKeyboardMap (kbm);
        EXPECT_TRUE (parsed.ok()) << parsed.error;
        map = parsed.value;
    }
    const auto table = buildTable (scale.value, map, "test");
    EXPECT_TRUE (table.ok()) << table.error;
    return table.value;
}

const char* const twelveEqual = "! 12-TET\n12 equal\n 12\n!\n100.0\n200.\n300.0\n400.0\n500.0\n600.0\n700.0\n800.0\n900.0\n1000.0\n1100.0\n2/1\n";
} // namespace

TEST (TuningTable, DefaultIsEqualTemperamentOnWholeKeyNumbers)
{
    const auto t = defaultTable();
    for (int key = 0; key < numKeys; ++key)
    {
        EXPECT_EQ (t.pitch[(size_t) key], (double) key);
        EXPECT_NEAR (t.frequency[(size_t) key], equalTempered (key), 1.0e-9);
    }
    EXPECT_TRUE (isDefault (t));

    // A Scala file of the same temperament plays the same pitches, bit for bit.
    const auto scala = built (twelveEqual);
    EXPECT_EQ (scala.pitch, t.pitch);
    EXPECT_FALSE (isDefault (scala));
}

TEST (TuningScala, ScalesThroughMapsGiveTheirFrequencies)
{
    // A just major scale on the white keys, C4 at 261.6 Hz; black keys and keys outside 36..96 silent.
    const auto just = built ("just major\n7\n9/8\n5/4\n4/3\n3/2\n5/3\n15/8\n2/1\n",
                             "! white keys\n12\n36\n96\n60\n60\n261.6255653\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n");
    const double ratios[12] = { 1, 0, 9.0 / 8, 0, 5.0 / 4, 4.0 / 3, 0, 3.0 / 2, 0, 5.0 / 3, 0, 15.0 / 8 };
    for (int key = 0; key < numKeys; ++key)
    {
        const auto ratio = ratios[key % 12];
        const auto expected = (key < 36 || key > 96 || ratio < 0.5) ? 0.0 : 261.6255653 * ratio * std::pow (2.0, key / 12 - 5);
        EXPECT_NEAR (just.frequency[(size_t) key], expected, 1.0e-9) << key;
    }

    // A map whose pattern repeats at a degree other than the period, and a degree past the scale's size.
    const auto stretched = built ("two steps\n2\n100.0\n1200.0\n", "3\n0\n127\n60\n60\n100\n2\n0\n1\n3\n");
    EXPECT_NEAR (cents (stretched.frequency[61], 100.0), 100.0, 1.0e-9);
    EXPECT_NEAR (cents (stretched.frequency[62], 100.0), 1300.0, 1.0e-9);   // degree 3: one period and a step
    EXPECT_NEAR (cents (stretched.frequency[63], 100.0), 1200.0, 1.0e-9);   // the next repetition, up by degree 2
    EXPECT_NEAR (cents (stretched.frequency[57], 100.0), -1200.0, 1.0e-9);

    // 19 equal steps from the linear map: A4 keeps 440 Hz, and the keys too far out to play are silent.
    std::string nineteen = "19-EDO\n19\n";
    for (int step = 1; step <= 19; ++step)
        nineteen += std::to_string (1200.0 * step / 19.0) + "\n";
    const auto edo = built (nineteen);
    EXPECT_NEAR (edo.frequency[69], 440.0, 1.0e-6);
    EXPECT_NEAR (edo.frequency[88], 880.0, 1.0e-6);

    const auto wide = built ("tritave steps\n1\n3/1\n");
    EXPECT_FALSE (wide.isMapped (127));   // 440 * 3^58: far past what a voice plays
    EXPECT_FALSE (wide.isMapped (0));
    EXPECT_NEAR (wide.frequency[70], 1320.0, 1.0e-9);
}

TEST (TuningScala, BadFilesAreRefusedWithTheirLine)
{
    struct Case { const char* what; std::string text; const char* error; };
    const std::vector<Case> cases = {
        { "a word for a pitch", "x\n2\n100.0\nfifth\n", "line 4: \"fifth\" is neither cents" },
        { "cents that are not a number", "x\n1\n1.2.3\n", "line 3: \"1.2.3\" is not a number of cents" },
        { "a zero ratio", "x\n2\n0/1\n2/1\n", "line 3: the ratio 0/1 is not above zero" },
        { "a negative ratio", "x\n2\n-3/2\n2/1\n", "line 3: the ratio -3/2 is negative" },
        { "a zero denominator", "x\n1\n3/0\n", "line 3: the ratio 3/0 is not above zero" },
        { "fewer pitches than the count", "x\n3\n100.0\n2/1\n", "line 2: the scale says 3 notes but lists 2" },
        { "more pitches than the count", "x\n1\n100.0\n2/1\n", "line 2: the scale says 1 notes but lists 2" },
        { "a count that is not a number", "x\ntwelve\n", "line 2: the number of notes is not a whole number" },
        { "no notes", "x\n0\n", "line 2: the scale has no notes" },
        { "thousands of notes", "x\n5000\n", "line 2: more than 1024 notes" },
        { "a period below the tonic", "x\n2\n100.0\n-5.0\n", "line 4: the last note (the period) is not above the tonic" },
        { "a blank pitch line", "x\n2\n\n2/1\n", "line 3: no pitch on the line" },
        { "no count", "! only a comment\ndescription\n", "the file ends before the number of notes" },
        { "a megabyte line", "x\n1\n" + std::string (1 << 20, '1') + "\n", "the file is larger than" },
        { "a line too long", "x\n1\n" + std::string (5000, '1') + "\n", "line 3: longer than 4096 bytes" },
        { "a NUL byte", std::string ("x\n1\n2/1\0\n", 9), "the file holds a NUL byte (at byte 7)" },
        { "UTF-16", "\xff\xfex\0\n\0", "the file is UTF-16 text" },
    };
    for (const auto& c : cases)
    {
        const auto parsed = parseScale (c.text);
        EXPECT_FALSE (parsed.ok()) << c.what;
        EXPECT_EQ (parsed.error.rfind (c.error, 0), 0u) << c.what << ": " << parsed.error;
    }

    // Comments anywhere, CRLF, a BOM, text after a pitch and a Latin-1 description are all fine.
    const auto fine = parseScale ("\xef\xbb\xbf! a comment\r\nCaf\xe9 tuning\r\n2\r\n! between\r\n 3/2  fifth\r\n2/1\r\n\r\n");
    ASSERT_TRUE (fine.ok()) << fine.error;
    EXPECT_EQ (fine.value.description, "Caf\xc3\xa9 tuning");
    EXPECT_NEAR (fine.value.cents[0], 701.955, 0.001);
}

TEST (TuningScala, BadKeyboardMapsAreRefused)
{
    struct Case { const char* what; const char* text; const char* error; };
    const Case cases[] = {
        { "a size past 128", "129\n0\n127\n60\n69\n440\n12\n", "line 1: the map size is not a whole number from 0 to 128" },
        { "a key past 127", "0\n0\n128\n60\n69\n440\n0\n", "line 3: the last key is not a whole number from 0 to 127" },
        { "a negative key", "0\n-1\n127\n60\n69\n440\n0\n", "line 2: the first key" },
        { "first after last", "0\n100\n20\n60\n69\n440\n0\n", "line 3: the last key is below the first" },
        { "a zero frequency", "0\n0\n127\n60\n69\n0\n0\n", "line 6: the reference frequency" },
        { "a word for a frequency", "0\n0\n127\n60\n69\nA\n0\n", "line 6: the reference frequency" },
        { "a negative entry", "2\n0\n127\n60\n60\n440\n2\n0\n-1\n", "line 9: a map entry is neither 'x'" },
        { "more entries than the size", "1\n0\n127\n60\n60\n440\n1\n0\n1\n", "line 9: more map entries than the map size" },
        { "too short", "12\n0\n127\n", "the file ends before its seven header values" },
    };
    for (const auto& c : cases)
    {
        const auto parsed = parseKeyboardMap (c.text);
        EXPECT_FALSE (parsed.ok()) << c.what;
        EXPECT_EQ (parsed.error.rfind (c.error, 0), 0u) << c.what << ": " << parsed.error;
    }

    // A reference key the map leaves silent has no frequency to hang the scale on.
    const auto scale = parseScale ("x\n1\n2/1\n");
    const auto map = parseKeyboardMap ("2\n0\n127\n60\n61\n440\n1\n0\nx\n");
    ASSERT_TRUE (scale.ok() && map.ok());
    EXPECT_EQ (buildTable (scale.value, map.value, "x").error, "the keyboard map leaves its reference key, 61, silent");
}

TEST (TuningScala, LoadNamesTheTuningAfterItsFilesAndTheErrorAfterTheFile)
{
    const juce::TemporaryFile scl (".scl"), kbm (".kbm");
    ASSERT_TRUE (scl.getFile().replaceWithText ("Werck\n1\n2/1\n"));
    ASSERT_TRUE (kbm.getFile().replaceWithText ("0\n0\n127\n60\n69\n415\n0\n"));

    const auto loaded = loadScala (scl.getFile(), kbm.getFile());
    ASSERT_TRUE (loaded.ok()) << loaded.error;
    EXPECT_EQ (juce::String (loaded.value.name), scl.getFile().getFileNameWithoutExtension() + " / " + kbm.getFile().getFileNameWithoutExtension());
    EXPECT_STREQ (loaded.value.description, "Werck");
    EXPECT_NEAR (loaded.value.frequency[69], 415.0, 1.0e-9);

    ASSERT_TRUE (kbm.getFile().replaceWithText ("0\n0\n300\n60\n69\n415\n0\n"));
    EXPECT_EQ (loadScala (scl.getFile(), kbm.getFile()).error,
               (kbm.getFile().getFileName() + ": line 3: the last key is not a whole number from 0 to 127").toStdString());
    EXPECT_EQ (loadScala (scl.getFile().getSiblingFile ("missing.scl")).error, "missing.scl: no such file");
}

//==============================================================================
namespace
{
std::vector<std::uint8_t> withChecksum (std::vector<std::uint8_t> message)
{
    std::uint8_t sum = 0;
    for (size_t i = 1; i < message.size(); ++i)
        sum ^= message[i];
    message.push_back (sum & 0x7f);
    message.push_back (0xf7);
    return message;
}

void appendName (std::vector<std::uint8_t>& m, const char* name)
{
    for (int i = 0; i < 16; ++i)
        m.push_back ((std::uint8_t) (*name != 0 ? *name++ : ' '));
}

// A bulk dump (with a bank when bank >= 0) tuning every key `centsUp` above equal temperament.
std::vector<std::uint8_t> bulkDump (int centsUp, int bank = -1, std::uint8_t device = 0x7f)
{
    std::vector<std::uint8_t> m { 0xf0, 0x7e, device, 0x08, (std::uint8_t) (bank < 0 ? 0x01 : 0x04) };
    if (bank >= 0)
        m.push_back ((std::uint8_t) bank);
    m.push_back (5);
    appendName (m, "Dump");
    const int fraction = centsUp * 16384 / 100;
    for (int key = 0; key < 127; ++key)
        m.insert (m.end(), { (std::uint8_t) key, (std::uint8_t) (fraction >> 7), (std::uint8_t) (fraction & 0x7f) });
    m.insert (m.end(), { 0x7f, 0x7f, 0x7f });   // key 127: no change
    return withChecksum (m);
}

MtsResult applyMessage (Table& t, const std::vector<std::uint8_t>& m, std::array<bool, numKeys>* changed = nullptr)
{
    return applyMts (t, m.data(), (int) m.size(), changed);
}
} // namespace

TEST (TuningMts, EveryFormRetunesTheKeysItNames)
{
    // Single-note changes, real-time and not, with and without a bank: key 60 up 50 cents, key 61 to
    // A4's pitch, key 62 left alone ("no change").
    const std::vector<std::uint8_t> notes { 60, 60, 64, 0, 61, 69, 0, 0, 62, 0x7f, 0x7f, 0x7f };
    std::vector<std::vector<std::uint8_t>> singleNote;
    const std::vector<std::vector<std::uint8_t>> heads { { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 3, 3 },
                                                         { 0xf0, 0x7f, 0x00, 0x08, 0x07, 1, 3, 3 },
                                                         { 0xf0, 0x7e, 0x7f, 0x08, 0x07, 0, 0, 3 } };
    for (const auto& head : heads)
    {
        auto m = head;
        m.insert (m.end(), notes.begin(), notes.end());
        m.push_back (0xf7);
        singleNote.push_back (m);
    }
    for (const auto& m : singleNote)
    {
        auto t = defaultTable();
        std::array<bool, numKeys> changed {};
        ASSERT_EQ (applyMessage (t, m, &changed), MtsResult::applied);
        EXPECT_NEAR (cents (t.frequency[60], equalTempered (60)), 50.0, 1.0e-9);
        EXPECT_EQ (t.pitch[60], 60.5);
        EXPECT_NEAR (t.frequency[61], 440.0, 1.0e-9);
        EXPECT_EQ (t.pitch[62], 62.0);
        for (int key = 0; key < numKeys; ++key)
            EXPECT_EQ (changed[(size_t) key], key == 60 || key == 61) << key;
    }

    // Bulk dumps, with and without a bank, name the tuning; the 7F 7F 7F of key 127 leaves it alone.
    for (const auto bank : { -1, 3 })
    {
        auto t = defaultTable();
        ASSERT_EQ (applyMessage (t, bulkDump (25, bank)), MtsResult::applied);
        EXPECT_STREQ (t.name, "Dump");
        EXPECT_NEAR (cents (t.frequency[69], 440.0), 25.0, 0.01);
        EXPECT_NEAR (cents (t.frequency[0], equalTempered (0)), 25.0, 0.01);
        EXPECT_EQ (t.pitch[127], 127.0);
    }

    // Scale/octave tunings: C up 10 cents and A down 20 in every octave, in each of the four forms.
    auto oneByte = std::vector<std::uint8_t> (12, 64), twoByte = std::vector<std::uint8_t> {};
    oneByte[0] = 74;
    oneByte[9] = 44;
    for (int pc = 0; pc < 12; ++pc)
    {
        const int value = 8192 + (pc == 0 ? 10 : pc == 9 ? -20 : 0) * 8192 / 100;
        twoByte.insert (twoByte.end(), { (std::uint8_t) (value >> 7), (std::uint8_t) (value & 0x7f) });
    }
    std::vector<std::vector<std::uint8_t>> scaleOctave;
    for (const int form : { 5, 6 })
    {
        std::vector<std::uint8_t> m { 0xf0, 0x7e, 0x7f, 0x08, (std::uint8_t) form, 0, 1 };
        appendName (m, "Octave");
        const auto& data = form == 5 ? oneByte : twoByte;
        m.insert (m.end(), data.begin(), data.end());
        scaleOctave.push_back (withChecksum (m));
    }
    for (const int form : { 8, 9 })
    {
        std::vector<std::uint8_t> m { 0xf0, 0x7f, 0x7f, 0x08, (std::uint8_t) form, 0, 0, 1 };
        const auto& data = form == 8 ? oneByte : twoByte;
        m.insert (m.end(), data.begin(), data.end());
        m.push_back (0xf7);
        scaleOctave.push_back (m);
    }
    for (const auto& m : scaleOctave)
    {
        auto t = defaultTable();
        ASSERT_EQ (applyMessage (t, m), MtsResult::applied) << (int) m[4];
        for (const int key : { 0, 24, 60, 120 })
            EXPECT_NEAR (cents (t.frequency[(size_t) key], equalTempered (key)), 10.0, 0.02) << (int) m[4] << " " << key;
        for (const int key : { 9, 69, 117 })
            EXPECT_NEAR (cents (t.frequency[(size_t) key], equalTempered (key)), -20.0, 0.02) << (int) m[4] << " " << key;
        EXPECT_EQ (t.pitch[64], 64.0);
    }
}

TEST (TuningMts, BadMessagesChangeNothing)
{
    auto badChecksum = bulkDump (25);
    badChecksum[badChecksum.size() - 2] ^= 1;
    auto flippedData = bulkDump (25);
    flippedData[100] ^= 0x01;   // the checksum no longer holds
    auto shortDump = bulkDump (25);
    shortDump.erase (shortDump.begin() + 30);
    auto highBit = bulkDump (25);
    highBit[40] |= 0x80;

    struct Case { const char* what; std::vector<std::uint8_t> message; MtsResult expected; };
    const std::vector<Case> cases = {
        { "a wrong checksum", badChecksum, MtsResult::badChecksum },
        { "a data byte changed in transit", flippedData, MtsResult::badChecksum },
        { "a dump one byte short", shortDump, MtsResult::wrongLength },
        { "a byte with its top bit set", highBit, MtsResult::badData },
        { "another device", bulkDump (25, -1, 0x10), MtsResult::otherDevice },
        { "a count that disagrees with the notes", { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 2, 60, 61, 0, 0, 0xf7 }, MtsResult::wrongLength },
        { "no notes", { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 0, 0xf7 }, MtsResult::wrongLength },
        { "cut before its end", { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 1, 60, 61, 0, 0 }, MtsResult::wrongLength },
        { "an unknown form", { 0xf0, 0x7f, 0x7f, 0x08, 0x0a, 0, 1, 60, 61, 0, 0, 0xf7 }, MtsResult::badData },
        { "a scale/octave change for no channel", { 0xf0, 0x7f, 0x7f, 0x08, 0x08, 0, 0, 0, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 90, 0xf7 },
          MtsResult::noChannel },
        { "a dump request", { 0xf0, 0x7e, 0x7f, 0x08, 0x00, 0, 0xf7 }, MtsResult::ignoredRequest },
        { "another universal message", { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 }, MtsResult::notTuning },
        { "too short to say", { 0xf0, 0x7e, 0x7f, 0x08 }, MtsResult::notTuning },
    };
    for (const auto& c : cases)
    {
        auto t = defaultTable();
        std::array<bool, numKeys> changed {};
        EXPECT_EQ (applyMessage (t, c.message, &changed), c.expected) << c.what;
        EXPECT_TRUE (isDefault (t)) << c.what;
        EXPECT_EQ (changed, (std::array<bool, numKeys> {})) << c.what;
        EXPECT_STRNE (describe (c.expected), "") << c.what;
    }
}

//==============================================================================
TEST (TuningState, TheElementReadsBackExactlyAndBadElementsAreRefused)
{
    EXPECT_EQ (toXml (defaultTable()), nullptr);

    auto t = built ("quarter-comma\n12\n76.049\n193.157\n310.265\n386.314\n503.422\n579.471\n696.578\n772.627\n889.735\n1006.843\n1082.892\n2/1\n",
                    "12\n40\n90\n60\n69\n440\n12\n0\n1\n2\n3\n4\n5\n6\n7\n8\n9\nx\n11\n");
    setName (t, "Mean \"tone\" & <co>");
    auto pitchChange = std::vector<std::uint8_t> { 0xf0, 0x7f, 0x7f, 0x08, 0x02, 0, 1, 64, 64, 1, 2, 0xf7 };
    ASSERT_EQ (applyMessage (t, pitchChange), MtsResult::applied);

    const auto xml = toXml (t);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "TUNING");
    const auto reparsed = juce::parseXML (xml->toString());
    const auto back = fromXml (*reparsed);
    ASSERT_TRUE (back.ok()) << back.error;
    EXPECT_EQ (back.value.frequency, t.frequency);
    EXPECT_STREQ (back.value.name, t.name);
    EXPECT_STREQ (back.value.description, t.description);
    for (int key = 0; key < numKeys; ++key)
        EXPECT_NEAR (back.value.pitch[(size_t) key], t.pitch[(size_t) key], 1.0e-12);

    const auto element = [] (const char* frequencies) {
        auto e = std::make_unique<juce::XmlElement> ("TUNING");
        e->setAttribute ("frequencies", frequencies);
        return e;
    };
    std::string ones, tooMany, withWord, outside, silent;
    for (int key = 0; key < numKeys; ++key)
    {
        ones += "440 ";
        withWord += key == 5 ? "abc " : "440 ";
        outside += key == 7 ? "30000 " : "440 ";
        silent += "0 ";
    }
    tooMany = ones + "440";
    const std::pair<std::string, const char*> bad[] = {
        { "440 440", "2 frequencies where there should be 128" },
        { tooMany, "more than 128 frequencies" },
        { withWord, "frequency 5 is neither 0 nor" },
        { outside, "frequency 7 is neither 0 nor" },
        { silent, "no key is mapped" },
    };
    for (const auto& [text, error] : bad)
        EXPECT_EQ (fromXml (*element (text.c_str())).error.rfind (error, 0), 0u) << error;
    EXPECT_FALSE (fromXml (juce::XmlElement ("PARAM")).ok());
    EXPECT_TRUE (fromXml (*element (ones.c_str())).ok());
}

TEST (TuningHandover, ReadersSeeWhatIsHandedOverThenWhatTheAudioThreadPlays)
{
    TuningHandover handover;
    EXPECT_TRUE (isDefault (handover.inForce()));
    EXPECT_EQ (handover.take(), nullptr);

    auto raised = defaultTable();
    setFrequency (raised, 69, 442.0);
    handover.handOver (raised);
    EXPECT_EQ (handover.inForce(), raised);   // not yet taken: still what the next block plays

    const auto* taken = handover.take();
    ASSERT_NE (taken, nullptr);
    EXPECT_EQ (*taken, raised);
    EXPECT_EQ (handover.take(), nullptr);

    auto retuned = raised;
    setFrequency (retuned, 60, 262.0);
    handover.publish (retuned);
    EXPECT_EQ (handover.inForce(), retuned);

    // A hand-over the audio thread has not taken wins over what it published before.
    handover.handOver (defaultTable());
    handover.publish (retuned);
    EXPECT_TRUE (isDefault (handover.inForce()));
}
