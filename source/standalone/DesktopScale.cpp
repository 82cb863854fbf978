#include "standalone/DesktopScale.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace desktopScale
{
namespace
{
constexpr float minimumScale = 1.0f, maximumScale = 4.0f;
constexpr double baseDpi = 96.0;

float snapped (double scale)
{
    return juce::jlimit (minimumScale, maximumScale, (float) std::round (scale * 4.0) / 4.0f);
}

// Reads the XSETTINGS wire format, in either byte order, refusing to step past the end.
class Reader
{
public:
    Reader (const void* d, size_t n) : data (static_cast<const juce::uint8*> (d)), size (n) {}

    bool skip (size_t n)
    {
        if (n > size - position)
            return false;
        position += n;
        return true;
    }

    std::optional<juce::uint32> card (size_t bytes)
    {
        if (bytes > size - position)
            return {};
        juce::uint32 value = 0;
        for (size_t i = 0; i < bytes; ++i)
        {
            const auto byte = (juce::uint32) data[position + (bigEndian ? i : bytes - 1 - i)];
            value = (value << 8) | byte;
        }
        position += bytes;
        return value;
    }

    std::optional<std::string_view> text (size_t n)
    {
        if (n > size - position)
            return {};
        std::string_view s (reinterpret_cast<const char*> (data + position), n);
        position += n;
        return s;
    }

    bool bigEndian = false;

private:
    const juce::uint8* data;
    size_t size, position = 0;
};

constexpr size_t padded (size_t n) { return (n + 3) & ~size_t { 3 }; }

int ignoreXErrors (Display*, XErrorEvent*) { return 0; }
} // namespace

float fromHints (const Hints& hints)
{
    // GTK lets GDK_SCALE override the desktop; Xft/DPI carries the whole factor times any fraction
    // (a desktop at 2 announces 192 dpi), so it comes before the bare factor.
    if (hints.gdkScale)
        return snapped (*hints.gdkScale);
    if (hints.xftDpiSetting && *hints.xftDpiSetting > 0)
        return snapped (*hints.xftDpiSetting / 1024.0 / baseDpi);
    if (hints.windowScalingFactor && *hints.windowScalingFactor > 0)
        return snapped (*hints.windowScalingFactor);
    if (hints.xftDpiResource && *hints.xftDpiResource > 0.0)
        return snapped (*hints.xftDpiResource / baseDpi);
    return minimumScale;
}

std::optional<int> findIntegerSetting (const void* data, size_t size, std::string_view name)
{
    if (data == nullptr)
        return {};

    Reader in (data, size);
    const auto order = in.card (1);
    if (! order || *order > 1 || ! in.skip (3))
        return {};
    in.bigEndian = *order == 1;

    const auto serial = in.card (4);
    const auto count = in.card (4);
    if (! serial || ! count)
        return {};

    enum { integer = 0, string = 1, colour = 2 };

    for (juce::uint32 i = 0; i < *count; ++i)
    {
        const auto type = in.card (1);
        if (! type || ! in.skip (1))
            return {};
        const auto nameLength = in.card (2);
        if (! nameLength)
            return {};
        const auto settingName = in.text (*nameLength);
        if (! settingName || ! in.skip (padded (*nameLength) - *nameLength) || ! in.skip (4))
            return {};

        switch (*type)
        {
            case integer:
            {
                const auto value = in.card (4);
                if (! value)
                    return {};
                if (*settingName == name)
                    return (int) (juce::int32) *value;
                break;
            }
            case string:
            {
                const auto length = in.card (4);
                if (! length || ! in.skip (*length) || ! in.skip (padded (*length) - *length))
                    return {};
                if (*settingName == name)
                    return {};
                break;
            }
            case colour:
                if (! in.skip (8) || *settingName == name)
                    return {};
                break;
            default:
                return {};
        }
    }
    return {};
}

std::optional<double> findXftDpiResource (const juce::String& resources)
{
    for (const auto& line : juce::StringArray::fromLines (resources))
    {
        const auto trimmed = line.trim();
        if (! trimmed.startsWith ("Xft.dpi"))
            continue;
        const auto rest = trimmed.substring (7).trimStart();
        if (! rest.startsWithChar (':'))
            continue;
        const auto value = rest.substring (1).trim();
        if (value.containsOnly ("0123456789.") && value.getDoubleValue() > 0.0)
            return value.getDoubleValue();
    }
    return {};
}

std::optional<int> parseGdkScale (const char* text)
{
    if (text == nullptr)
        return {};
    const juce::String s (text);
    if (s.isEmpty() || s.length() > 2 || ! s.containsOnly ("0123456789"))
        return {};
    const auto value = s.getIntValue();
    if (value < 1 || value > 8)
        return {};
    return value;
}

Hints readFromDesktop()
{
    Hints hints;
    hints.gdkScale = parseGdkScale (std::getenv ("GDK_SCALE"));

    auto* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return hints;

    // The settings daemon may go away between our questions: its window then no longer exists.
    const auto previousHandler = XSetErrorHandler (ignoreXErrors);

    if (const auto* resources = XResourceManagerString (display))
        hints.xftDpiResource = findXftDpiResource (resources);

    const auto selection = XInternAtom (display, ("_XSETTINGS_S" + juce::String (DefaultScreen (display))).toRawUTF8(), False);
    const auto property = XInternAtom (display, "_XSETTINGS_SETTINGS", False);

    if (const auto owner = XGetSelectionOwner (display, selection); owner != None)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;

        // The settings of a whole desktop fit well in 64 kB.
        if (XGetWindowProperty (display, owner, property, 0, 16384, False, property, &type, &format,
                                &count, &remaining, &data) == Success
            && data != nullptr && type == property && format == 8)
        {
            hints.xftDpiSetting = findIntegerSetting (data, count, "Xft/DPI");
            hints.windowScalingFactor = findIntegerSetting (data, count, "Gdk/WindowScalingFactor");
        }
        if (data != nullptr)
            XFree (data);
    }

    XSync (display, False);
    XSetErrorHandler (previousHandler);
    XCloseDisplay (display);
    return hints;
}

bool isZoomChoice (int zoomPercent)
{
    return std::find (std::begin (zoomChoices), std::end (zoomChoices), zoomPercent) != std::end (zoomChoices);
}

float forZoom (int zoomPercent, float desktop)
{
    return isZoomChoice (zoomPercent) ? (float) zoomPercent / 100.0f : desktop;
}
} // namespace desktopScale
