#include "EditorTestSupport.h"
#include "editor/Background.h"

namespace
{
class EditorTuning : public EditorFixture
{
protected:
    juce::File write (const char* name, const std::string& text)
    {
        const auto file = folder.getFile().getChildFile (name);
        folder.getFile().createDirectory();
        EXPECT_TRUE (file.replaceWithData (text.data(), text.size()));
        return file;
    }

    juce::String shown() { return probe->tuning().getButtonText(); }

    juce::TemporaryFile folder;
};

const std::string nineteen = [] {
    std::string text = "19 equal divisions\n19\n";
    for (int i = 1; i <= 19; ++i)
        text += std::to_string (1200.0 * i / 19.0) + "\n";
    return text;
}();
} // namespace

// The header had no room for a tuning: its name sits right of the title and under the version,
// where nothing is drawn, and says equal temperament until another is loaded.
TEST_F (EditorTuning, NameSitsInTheHeaderBesideTheTitle)
{
    openEditor();
    const auto bounds = probe->tuning().getBounds();
    const auto titleWidth = juce::GlyphArrangement::getStringWidth (monoFont (24.0f, juce::Font::bold), backgroundText::title);
    EXPECT_GE ((float) bounds.getX(), ((float) editor->getWidth() + titleWidth) / 2.0f) << "clear of the title";
    EXPECT_GE (bounds.getY(), 16) << "below the version";
    EXPECT_LE (bounds.getBottom(), 52) << "inside the header";
    EXPECT_LE (bounds.getRight(), editor->getWidth() - 10);
    EXPECT_TRUE (probe->tuning().isVisible());
    EXPECT_EQ (shown(), "TUNING://12-TET A440");
}

// A scale loads with or without its keyboard map and names the tuning; a file that cannot be read
// as one says why and changes nothing.
TEST_F (EditorTuning, LoadingAScaleRetunesAndABadFileChangesNothing)
{
    openEditor();
    const auto scl = write ("nineteen.scl", nineteen);
    EXPECT_EQ (editor->loadTuning (scl, {}), "");
    EXPECT_EQ (juce::String (processor.getTuning().name), "nineteen");
    EXPECT_NEAR (processor.getTuning().frequency[61], 440.0 * std::pow (2.0, -8.0 / 19.0), 1.0e-6);   // 8 steps below A4, cents to six places
    EXPECT_EQ (shown(), "TUNING://NINETEEN");

    const auto before = processor.getTuning();
    struct Case { const char* name; juce::File scl, kbm; };
    const Case cases[] = {
        { "count disagrees", write ("short.scl", "short\n3\n100.0\n200.0\n"), {} },
        { "ratio of zero", write ("zero.scl", "zero\n1\n0/1\n"), {} },
        { "NUL byte", write ("nul.scl", std::string ("nul\n1\n2/1\n\0", 11)), {} },
        { "key past 127", scl, write ("wide.kbm", "0\n0\n200\n60\n69\n440.0\n0\n") },
        { "missing", scl.getSiblingFile ("absent.scl"), {} },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto error = editor->loadTuning (c.scl, c.kbm);
        EXPECT_TRUE (error.contains ((c.kbm != juce::File() ? c.kbm : c.scl).getFileName())) << error;
        EXPECT_TRUE (processor.getTuning() == before);
        EXPECT_EQ (shown(), "TUNING://NINETEEN");
    }

    // Through a map: only the keys it maps sound, and the name says which map.
    const auto map = write ("white.kbm", "12\n0\n127\n60\n69\n440.0\n12\n0\nx\n2\nx\n4\n5\nx\n7\nx\n9\nx\n11\n");
    EXPECT_EQ (editor->loadTuning (write ("twelve.scl", "twelve\n12\n100.\n200.\n300.\n400.\n500.\n600.\n700.\n800.\n900.\n1000.\n1100.\n2/1\n"), map), "");
    EXPECT_FALSE (processor.getTuning().isMapped (61));
    EXPECT_NEAR (processor.getTuning().frequency[69], 440.0, 1.0e-9);
    EXPECT_EQ (shown(), "TUNING://TWELVE / WHITE");
}

// A tuning can change behind the editor: a host restoring a state, a sequencer's tuning messages.
TEST_F (EditorTuning, FollowsTheTuningTheProcessorPlays)
{
    openEditor();
    KestruneProcessor other;
    ASSERT_EQ (editor->loadTuning (write ("nineteen.scl", nineteen), {}), "");
    juce::MemoryBlock withTuning, without;
    processor.getStateInformation (withTuning);
    other.getStateInformation (without);

    processor.setStateInformation (without.getData(), (int) without.getSize());
    probe->tick();
    EXPECT_EQ (shown(), "TUNING://12-TET A440");

    processor.setStateInformation (withTuning.getData(), (int) withTuning.getSize());
    probe->tick();
    EXPECT_EQ (shown(), "TUNING://NINETEEN");
}
