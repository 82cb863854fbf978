#include "standalone/DesktopScale.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
using desktopScale::Hints;

TEST (DesktopScale, TheHintsGiveOneScaleInQuarterStepsFromOneToFour)
{
    struct Case { const char* what; Hints hints; float scale; };
    const Case cases[] = {
        { "nothing said", {}, 1.0f },
        { "144 dpi from the settings daemon", { {}, 144 * 1024, {}, {} }, 1.5f },
        { "192 dpi with a window scale of 2 (counted once)", { {}, 192 * 1024, 2, {} }, 2.0f },
        { "a window scale alone", { {}, {}, 2, {} }, 2.0f },
        { "the Xft.dpi resource alone", { {}, {}, {}, 120.0 }, 1.25f },
        { "GDK_SCALE over the daemon's dpi", { 1, 192 * 1024, 2, {} }, 1.0f },
        { "the daemon's dpi over the resource", { {}, 96 * 1024, {}, 192.0 }, 1.0f },
        { "97 dpi is a desktop at 1", { {}, 97 * 1024, {}, {} }, 1.0f },
        { "72 dpi never shrinks the design", { {}, 72 * 1024, {}, {} }, 1.0f },
        { "an absurd dpi stops at 4", { {}, 2000 * 1024, {}, {} }, 4.0f },
        { "a zero or negative dpi is no hint", { {}, -5, 0, 144.0 }, 1.5f },
    };
    for (const auto& c : cases)
        EXPECT_EQ (desktopScale::fromHints (c.hints), c.scale) << c.what;
}

TEST (DesktopScale, GdkScaleIsAWholeNumberFromOneToEight)
{
    EXPECT_EQ (desktopScale::parseGdkScale ("2"), 2);
    EXPECT_EQ (desktopScale::parseGdkScale ("8"), 8);
    for (const char* bad : { "", "0", "9", "1.5", "-1", " 2", "2x", "123" })
        EXPECT_FALSE (desktopScale::parseGdkScale (bad).has_value()) << bad;
    EXPECT_FALSE (desktopScale::parseGdkScale (nullptr).has_value());
}

TEST (DesktopScale, XftDpiIsReadFromTheResourceDatabase)
{
    EXPECT_EQ (desktopScale::findXftDpiResource ("Xft.antialias:\t1\nXft.dpi:\t192\n"), 192.0);
    EXPECT_EQ (desktopScale::findXftDpiResource ("Xft.dpi : 144.5"), 144.5);
    for (const char* bad : { "", "Xft.dpi:", "Xft.dpi: big", "Xft.dpitch: 3", "Xft.dpi 96", "*.dpi: 192" })
        EXPECT_FALSE (desktopScale::findXftDpiResource (bad).has_value()) << bad;
}

TEST (DesktopScale, AZoomFromTheListOverridesTheDesktop)
{
    EXPECT_EQ (desktopScale::forZoom (150, 2.0f), 1.5f);
    EXPECT_EQ (desktopScale::forZoom (100, 2.0f), 1.0f);
    // Follow the desktop: nothing saved, or a value no menu offers (a hand-edited file).
    for (int other : { 0, 120, -100, 20000 })
        EXPECT_EQ (desktopScale::forZoom (other, 1.25f), 1.25f) << other;
}

// An _XSETTINGS_SETTINGS property as a settings daemon writes it.
class XSettingsBlob
{
public:
    explicit XSettingsBlob (bool bigEndian) : big (bigEndian)
    {
        bytes = { (juce::uint8) (big ? 1 : 0), 0, 0, 0 };
        card (4, 7);   // serial
        card (4, 0);   // count, patched as settings are added
    }

    XSettingsBlob& integer (const std::string& name, juce::int32 value)
    {
        header (0, name);
        card (4, (juce::uint32) value);
        return *this;
    }

    XSettingsBlob& string (const std::string& name, const std::string& value)
    {
        header (1, name);
        card (4, (juce::uint32) value.size());
        text (value);
        return *this;
    }

    XSettingsBlob& colour (const std::string& name)
    {
        header (2, name);
        card (4, 0x11223344);
        card (4, 0x55667788);
        return *this;
    }

    XSettingsBlob& claimCount (juce::uint32 n)
    {
        const auto saved = std::exchange (bytes, {});
        card (4, n);
        const auto encoded = bytes;
        bytes = saved;
        std::copy (encoded.begin(), encoded.end(), bytes.begin() + 8);
        return *this;
    }

    std::vector<juce::uint8> bytes;

private:
    void header (juce::uint8 type, const std::string& name)
    {
        claimCount (++settingCount);
        bytes.push_back (type);
        bytes.push_back (0);
        card (2, (juce::uint32) name.size());
        text (name);
        card (4, 3);   // last change
    }

    void card (int size, juce::uint32 value)
    {
        for (int i = 0; i < size; ++i)
        {
            const int shift = 8 * (big ? size - 1 - i : i);
            bytes.push_back ((juce::uint8) (value >> shift));
        }
    }

    void text (const std::string& s)
    {
        bytes.insert (bytes.end(), s.begin(), s.end());
        while (bytes.size() % 4 != 0)
            bytes.push_back (0);
    }

    bool big;
    juce::uint32 settingCount = 0;
};

std::optional<int> find (const std::vector<juce::uint8>& bytes, const char* name, size_t size = SIZE_MAX)
{
    return desktopScale::findIntegerSetting (bytes.data(), std::min (size, bytes.size()), name);
}

TEST (DesktopScale, IntegerSettingsAreFoundPastStringsAndColoursInEitherByteOrder)
{
    for (bool big : { false, true })
    {
        XSettingsBlob blob (big);
        blob.string ("Net/ThemeName", "Adwaita-dark").colour ("Gtk/Colour").integer ("Xft/DPI", 147456)
            .integer ("Gdk/WindowScalingFactor", 2).integer ("Negative", -3);
        EXPECT_EQ (find (blob.bytes, "Xft/DPI"), 147456) << big;
        EXPECT_EQ (find (blob.bytes, "Gdk/WindowScalingFactor"), 2) << big;
        EXPECT_EQ (find (blob.bytes, "Negative"), -3) << big;
        EXPECT_FALSE (find (blob.bytes, "Net/ThemeName")) << "a string is no integer";
        EXPECT_FALSE (find (blob.bytes, "Gtk/Colour")) << "a colour is no integer";
        EXPECT_FALSE (find (blob.bytes, "Xft/DP")) << "names match whole";
    }
}

TEST (DesktopScale, DamagedSettingsNeverReadPastTheirEnd)
{
    XSettingsBlob blob (false);
    blob.string ("Net/ThemeName", "Adwaita").integer ("Xft/DPI", 196608);
    const auto whole = blob.bytes.size();

    // Cut anywhere: found only when the setting is wholly there (ASan checks the reads).
    for (size_t size = 0; size < whole; ++size)
        EXPECT_FALSE (find (blob.bytes, "Xft/DPI", size)) << size;
    EXPECT_EQ (find (blob.bytes, "Xft/DPI"), 196608);

    // A count larger than the settings there: what is there is still found.
    blob.claimCount (100000);
    EXPECT_EQ (find (blob.bytes, "Xft/DPI"), 196608);
    EXPECT_FALSE (find (blob.bytes, "Absent"));

    auto lyingName = XSettingsBlob (false).integer ("Xft/DPI", 1).bytes;
    lyingName[14] = 0xff;   // the name's length
    lyingName[15] = 0xff;
    EXPECT_FALSE (find (lyingName, "Xft/DPI"));

    auto lyingString = XSettingsBlob (false).string ("A", "b").integer ("Xft/DPI", 1).bytes;
    lyingString[27] = 0x7f;   // the string value's length, high byte
    EXPECT_FALSE (find (lyingString, "Xft/DPI"));

    auto badOrder = XSettingsBlob (false).integer ("Xft/DPI", 1).bytes;
    badOrder[0] = 2;
    EXPECT_FALSE (find (badOrder, "Xft/DPI"));

    auto badType = XSettingsBlob (false).integer ("Xft/DPI", 1).bytes;
    badType[12] = 9;
    EXPECT_FALSE (find (badType, "Xft/DPI"));

    EXPECT_FALSE (desktopScale::findIntegerSetting (nullptr, 100, "Xft/DPI"));
}
} // namespace
