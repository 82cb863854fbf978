#include "standalone/SessionSettings.h"

#include <gtest/gtest.h>

namespace
{
struct SessionSettings : ::testing::Test
{
    juce::TemporaryFile scratch { "kestrune-session" };
    juce::File root = scratch.getFile();

    void SetUp() override { ASSERT_TRUE (root.createDirectory()); }
    void TearDown() override { root.deleteRecursively(); }

    // Every name in a folder, hidden ones too, sorted.
    static juce::StringArray filesIn (const juce::File& folder)
    {
        juce::StringArray names;
        for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*", juce::File::FollowSymlinks::no))
            names.add (f.getFileName());
        names.sort (false);
        return names;
    }
};

TEST_F (SessionSettings, WhatASaveWritesAnOpenReadsBack)
{
    juce::PropertySet saved;
    saved.setValue ("filterState", "1234.AbC+/=");
    saved.setValue ("zoom", 150);
    saved.setValue ("text", "quotes \" and <angles> & ampersands\nand a second line");
    juce::XmlElement device ("DEVICESETUP");
    device.setAttribute ("deviceType", "JACK");
    saved.setValue ("audioSetup", &device);

    const auto file = sessionSettings::fileIn (root);
    ASSERT_TRUE (sessionSettings::replaceWithText (file, sessionSettings::toText (saved)).wasOk());
    EXPECT_EQ (filesIn (root), juce::StringArray { file.getFileName() }) << "no temporary file is left behind";

    const auto loaded = sessionSettings::load (file);
    EXPECT_EQ (loaded->getAllProperties(), saved.getAllProperties());
    EXPECT_EQ (loaded->getIntValue ("zoom"), 150);
    ASSERT_NE (loaded->getXmlValue ("audioSetup"), nullptr);
    EXPECT_EQ (loaded->getXmlValue ("audioSetup")->getStringAttribute ("deviceType"), "JACK");
}

TEST_F (SessionSettings, AFailedWriteLeavesTheEarlierFileAndNoTemporary)
{
    const auto file = sessionSettings::fileIn (root);
    ASSERT_TRUE (sessionSettings::replaceWithText (file, "earlier").wasOk());

    // The target's name taken by a folder: the rename fails after the temporary was written.
    const auto blocked = root.getChildFile ("blocked");
    ASSERT_TRUE (blocked.getChildFile ("inside").create().wasOk());
    const auto result = sessionSettings::replaceWithText (blocked, "new");
    EXPECT_TRUE (result.failed());
    EXPECT_TRUE (result.getErrorMessage().contains (blocked.getFullPathName())) << result.getErrorMessage();

    // No folder at all: nothing can be written.
    EXPECT_TRUE (sessionSettings::replaceWithText (root.getChildFile ("gone/settings"), "new").failed());

    EXPECT_EQ (file.loadFileAsString(), "earlier");
    EXPECT_EQ (filesIn (root), (juce::StringArray { file.getFileName(), "blocked" }));
}

TEST_F (SessionSettings, AFolderIsMadeOnlyInsideAnExistingWritableOne)
{
    const auto client = root.getChildFile ("Kestrune.nABCD");
    EXPECT_TRUE (sessionSettings::prepareFolder (client).wasOk());
    EXPECT_TRUE (client.isDirectory());
    EXPECT_TRUE (sessionSettings::prepareFolder (client).wasOk()) << "an existing folder is opened again";
    EXPECT_EQ (filesIn (client).size(), 0) << "the write test leaves nothing";

    const auto aFile = root.getChildFile ("plain");
    ASSERT_TRUE (aFile.create().wasOk());
    const juce::File refused[] = { root.getChildFile ("missing/client"), aFile, aFile.getChildFile ("client"),
                                   juce::File ("/proc/1/kestrune"), juce::File ("/proc/1") };
    for (const auto& folder : refused)
    {
        const auto result = sessionSettings::prepareFolder (folder);
        EXPECT_TRUE (result.failed()) << folder.getFullPathName();
        EXPECT_TRUE (result.getErrorMessage().isNotEmpty());
    }
    EXPECT_FALSE (root.getChildFile ("missing").exists());
}

TEST_F (SessionSettings, ADamagedOrMissingFileGivesWhatIsIntact)
{
    EXPECT_EQ (sessionSettings::load (root.getChildFile ("none"))->getAllProperties().size(), 0);

    const auto file = root.getChildFile ("cut.settings");
    for (const auto* text : { "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"zoom\" val=\"150\"/><VALUE na",
                              "\x01\x02 <<< not xml", "" })
    {
        ASSERT_TRUE (file.replaceWithText (text));
        const auto loaded = sessionSettings::load (file);
        EXPECT_LE (loaded->getAllProperties().size(), 1);
    }
}
} // namespace
