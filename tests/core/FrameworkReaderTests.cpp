// The framework's readers that bytes from a host's project, a settings file or a state file reach
// before our own state guard does: they must take no size or count on trust and refuse nesting that
// would exhaust the stack.
#include <gtest/gtest.h>
#include <juce_data_structures/juce_data_structures.h>
#include <limits>

namespace
{
struct Base64Case
{
    const char* text;
    bool accepted;
    size_t size;
};

TEST (FrameworkReaders, Base64SizePrefixIsCheckedAgainstTheText)
{
    const Base64Case cases[] = {
        { "0.", true, 0 },
        { "3.AAAA", true, 3 },           // four digits hold three bytes
        { "4.AAAA", false, 0 },          // ... not four
        { "-5.AAAA", false, 0 },         // aborted the process
        { "2000000000.A", false, 0 },    // allocated 2 GB
        { "99999999999999999999999.AAAA", false, 0 },
        { "4294967299.AAAA", false, 0 }, // would wrap to 3 in 32 bits
        { ".AAAA", false, 0 },
        { "3x.AAAA", false, 0 },
        { "no dot", false, 0 },
    };

    for (const auto& c : cases)
    {
        const char earlier[] = "earlier";
        juce::MemoryBlock block (earlier, sizeof (earlier));
        EXPECT_EQ (block.fromBase64Encoding (c.text), c.accepted) << c.text;

        if (c.accepted)
            EXPECT_EQ (block.getSize(), c.size) << c.text;
        else
            EXPECT_EQ (block, juce::MemoryBlock (earlier, sizeof (earlier))) << c.text << ": a refusal changed the block";
    }

    const juce::String text ("a state of some length, with \0 inside");
    const juce::MemoryBlock original (text.toRawUTF8(), text.getNumBytesAsUTF8());
    juce::MemoryBlock decoded;
    ASSERT_TRUE (decoded.fromBase64Encoding (original.toBase64Encoding()));
    EXPECT_EQ (decoded, original);
}

juce::String nestedXml (int depth)
{
    return juce::String::repeatedString ("<a>", depth) + juce::String::repeatedString ("</a>", depth);
}

int xmlDepth (const juce::XmlElement& e)
{
    auto depth = 1;
    for (auto* child = e.getFirstChildElement(); child != nullptr; child = child->getFirstChildElement())
        ++depth;
    return depth;
}

TEST (FrameworkReaders, XmlNestedTooDeeplyIsRefused)
{
    juce::XmlDocument fine (nestedXml (200));
    const auto parsed = fine.getDocumentElement();
    ASSERT_NE (parsed, nullptr) << fine.getLastParseError();
    EXPECT_EQ (xmlDepth (*parsed), 200);

    // Deep nesting followed by more siblings must not come back as a document either.
    for (const auto& text : { nestedXml (60000), nestedXml (300), "<r>" + nestedXml (300) + "<b/></r>" })
    {
        juce::XmlDocument doc (text);
        EXPECT_EQ (doc.getDocumentElement(), nullptr);
        EXPECT_EQ (doc.getLastParseError(), "elements nested too deeply");
    }

    EXPECT_EQ (juce::parseXML (nestedXml (60000)), nullptr);
}

// ValueTree::writeToStream's format, written by hand so that it can say what a real tree cannot.
struct TreeBytes
{
    juce::MemoryOutputStream out;

    TreeBytes& type (const char* name) { out.writeString (name); return *this; }
    TreeBytes& count (int n) { out.writeCompressedInt (n); return *this; }
    TreeBytes& bytes (std::initializer_list<int> raw)
    {
        for (auto b : raw)
            out.writeByte ((char) b);
        return *this;
    }
};

constexpr int varArray = 7, varBinary = 8;

int treeDepth (juce::ValueTree t)
{
    auto depth = 0;
    for (; t.isValid(); t = t.getChild (0))
        ++depth;
    return depth;
}

TEST (FrameworkReaders, ValueTreeReaderTrustsNoCountAndNoDepth)
{
    {
        TreeBytes deep;
        for (int i = 0; i < 60000; ++i)
            deep.type ("a").count (0).count (1);
        const auto tree = juce::ValueTree::readFromData (deep.out.getData(), deep.out.getDataSize());
        EXPECT_EQ (tree.getType().toString(), "a");
        EXPECT_LE (treeDepth (tree), 257);
    }
    {
        // Counts far beyond the bytes present: no reservation of them, no loop over them.
        TreeBytes lying;
        lying.type ("a").count (std::numeric_limits<int>::max());
        auto tree = juce::ValueTree::readFromData (lying.out.getData(), lying.out.getDataSize());
        EXPECT_EQ (tree.getNumProperties(), 0);

        TreeBytes children;
        children.type ("a").count (0).count (std::numeric_limits<int>::max());
        tree = juce::ValueTree::readFromData (children.out.getData(), children.out.getDataSize());
        EXPECT_EQ (tree.getNumChildren(), 0);
    }
    {
        // A binary property claiming 2 GB with three bytes behind it.
        TreeBytes binary;
        binary.type ("a").count (1).type ("p").count (std::numeric_limits<int>::max()).bytes ({ varBinary, 1, 2, 3 });
        const auto tree = juce::ValueTree::readFromData (binary.out.getData(), binary.out.getDataSize());
        const auto* block = tree.getProperty ("p").getBinaryData();
        ASSERT_NE (block, nullptr);
        EXPECT_EQ (block->getSize(), 3u);
    }
    {
        // Arrays inside arrays, 60,000 deep, and an array claiming two billion elements.
        TreeBytes arrays;
        arrays.type ("a").count (2).type ("deep");
        for (int i = 0; i < 60000; ++i)
            arrays.count (3).bytes ({ varArray }).count (1);
        arrays.count (0).type ("wide").count (3).bytes ({ varArray }).count (std::numeric_limits<int>::max());
        const auto tree = juce::ValueTree::readFromData (arrays.out.getData(), arrays.out.getDataSize());
        EXPECT_TRUE (tree.getProperty ("deep").isArray());
    }
}
} // namespace

// Numbers in a saved state or settings file go through the framework's text reader: a huge
// exponent overflowed its int, and an integer longer than a double can hold read back wrong.
TEST (FrameworkReaders, NumbersWithHugeExponentsOrDigitsReadAsZeroOrInfinity)
{
    const auto inf = std::numeric_limits<double>::infinity();
    const juce::String longInteger = juce::String::repeatedString ("9", 1500);

    const struct { juce::String text; double expected; } cases[] = {
        { "1e9999999999", inf },
        { "-1e9999999999", -inf },
        { "1e-9999999999", 0.0 },
        { "2.5e0000000000000000000003", 2500.0 },
        { longInteger, inf },
        { "-" + longInteger, -inf },
        { longInteger.substring (0, 300), 1.0e300 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text.substring (0, 40).toStdString());
        EXPECT_DOUBLE_EQ (c.text.getDoubleValue(), c.expected);
    }
}
