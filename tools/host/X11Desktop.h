#pragma once

#include <juce_graphics/juce_graphics.h>

// The few X11 calls a host needs beyond JUCE: surviving X errors outside a JUCEApplication,
// reading back what a plug-in drew into its own embedded window, and driving the real pointer.
// Kept apart so that Xlib's macros never meet JUCE's headers.
namespace host::x11
{
// Call before any other Xlib use. Xlib's default handler exits the process on the first error;
// under a bare X server (no window manager) harmless BadAtom errors are routine.
void prepareForThreadsAndErrors();

// Whether an X server answers at $DISPLAY; without one JUCE cannot create a window at all.
bool displayIsAvailable();

// The pixels on screen inside the given area of a top-level window, child windows included
// (a plug-in's editor lives in its own child window that the host's JUCE never paints).
// Returns a null image when the area cannot be read (off screen, no display).
juce::Image grabWindowArea (void* nativeWindow, juce::Rectangle<int> area);

// Moves the real pointer and presses its left button through the XTest extension, so the
// events reach whichever window lies under it, as a user's clicks would.
class Pointer
{
public:
    Pointer();
    ~Pointer();

    juce::String getUnavailableReason() const { return unavailableReason; }
    void moveTo (void* nativeWindow, juce::Point<int> positionInWindow);
    void setButtonDown (bool isDown);

private:
    void* display = nullptr;
    void* library = nullptr;
    int (*fakeMotion) (void*, int, int, int, unsigned long) = nullptr;
    int (*fakeButton) (void*, unsigned int, int, unsigned long) = nullptr;
    juce::String unavailableReason;
};
} // namespace host::x11
