#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <string_view>

// How large the desktop wants windows drawn, read the way GTK and Qt desktops announce it on X11: the
// settings daemon's Xft/DPI and Gdk/WindowScalingFactor, the GDK_SCALE override, and the older Xft.dpi
// resource. The framework itself reads only the integer factor, and only where the window manager
// publishes a work area.
namespace desktopScale
{
// What the desktop says; each absent where it says nothing usable.
struct Hints
{
    std::optional<int> gdkScale;              // GDK_SCALE: a whole factor forced on GTK programs
    std::optional<int> xftDpiSetting;         // XSETTINGS Xft/DPI: dots per inch times 1024
    std::optional<int> windowScalingFactor;   // XSETTINGS Gdk/WindowScalingFactor
    std::optional<double> xftDpiResource;     // the X resource Xft.dpi
};

// The scale those hints give, from 1 to 4 in quarter steps (97 dpi is a desktop at 1, not 1.01); 1
// where they give none.
float fromHints (const Hints&);

// An integer setting from the bytes of an _XSETTINGS_SETTINGS property; none when it is absent, not
// an integer, or the data is damaged before it.
std::optional<int> findIntegerSetting (const void* data, size_t size, std::string_view name);

// Xft.dpi from the text of an X resource database (RESOURCE_MANAGER).
std::optional<double> findXftDpiResource (const juce::String& resources);

// GDK_SCALE's text: a whole number from 1 to 8, or none.
std::optional<int> parseGdkScale (const char* text);

// The hints of the X display named by DISPLAY and the environment.
Hints readFromDesktop();

// Zoom levels the user can choose where the desktop says nothing, in percent; 0 follows the desktop.
inline constexpr int zoomChoices[] = { 100, 150, 200 };
inline constexpr const char* zoomSettingKey = "zoom";

bool isZoomChoice (int zoomPercent);

// The scale a saved zoom gives: a zoom from the list, or the desktop's scale (0 or anything else).
float forZoom (int zoomPercent, float desktop);
} // namespace desktopScale
