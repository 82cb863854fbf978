#include "X11Desktop.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

namespace host::x11
{
namespace
{
int tolerateError (Display*, XErrorEvent*)
{
    return 0;
}

::Window toWindow (void* nativeWindow)
{
    return (::Window) reinterpret_cast<juce::pointer_sized_uint> (nativeWindow);
}

// Bits of one colour channel scaled to 0..255 from a visual's channel mask.
juce::uint8 channel (unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;

    int shift = 0;

    while (((mask >> shift) & 1) == 0)
        ++shift;

    const auto max = mask >> shift;
    return (juce::uint8) (((pixel & mask) >> shift) * 255 / max);
}
} // namespace

void prepareForThreadsAndErrors()
{
    XInitThreads();
    XSetErrorHandler (tolerateError);
}

bool displayIsAvailable()
{
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return false;

    XCloseDisplay (display);
    return true;
}

juce::Image grabWindowArea (void* nativeWindow, juce::Rectangle<int> area)
{
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr || area.isEmpty())
        return {};

    XSync (display, False);
    auto* image = XGetImage (display, toWindow (nativeWindow), area.getX(), area.getY(),
                             (unsigned int) area.getWidth(), (unsigned int) area.getHeight(), AllPlanes, ZPixmap);
    juce::Image result;

    if (image != nullptr)
    {
        result = juce::Image (juce::Image::RGB, area.getWidth(), area.getHeight(), false);
        juce::Image::BitmapData pixels (result, juce::Image::BitmapData::writeOnly);

        for (int y = 0; y < area.getHeight(); ++y)
        {
            for (int x = 0; x < area.getWidth(); ++x)
            {
                const auto p = XGetPixel (image, x, y);
                pixels.setPixelColour (x, y, juce::Colour (channel (p, image->red_mask),
                                                           channel (p, image->green_mask),
                                                           channel (p, image->blue_mask)));
            }
        }

        XDestroyImage (image);
    }

    XCloseDisplay (display);
    return result;
}

Pointer::Pointer()
{
    display = XOpenDisplay (nullptr);
    library = dlopen ("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);

    if (display == nullptr)
        unavailableReason = "no X display";
    else if (library == nullptr)
        unavailableReason = "libXtst.so.6 (the XTest client library) is not installed";
    else
    {
        fakeMotion = reinterpret_cast<decltype (fakeMotion)> (dlsym (library, "XTestFakeMotionEvent"));
        fakeButton = reinterpret_cast<decltype (fakeButton)> (dlsym (library, "XTestFakeButtonEvent"));

        int event = 0, error = 0, major = 0, minor = 0;
        using QueryFn = int (*) (void*, int*, int*, int*, int*);
        auto query = reinterpret_cast<QueryFn> (dlsym (library, "XTestQueryExtension"));

        if (fakeMotion == nullptr || fakeButton == nullptr || query == nullptr
            || ! query (display, &event, &error, &major, &minor))
            unavailableReason = "the X server has no XTest extension";
    }
}

Pointer::~Pointer()
{
    if (display != nullptr)
        XCloseDisplay (static_cast<Display*> (display));

    if (library != nullptr)
        dlclose (library);
}

void Pointer::moveTo (void* nativeWindow, juce::Point<int> positionInWindow)
{
    if (unavailableReason.isNotEmpty())
        return;

    auto* d = static_cast<Display*> (display);
    int rootX = 0, rootY = 0;
    ::Window child = 0;
    XTranslateCoordinates (d, toWindow (nativeWindow), DefaultRootWindow (d),
                           positionInWindow.x, positionInWindow.y, &rootX, &rootY, &child);
    fakeMotion (d, -1, rootX, rootY, 0);
    XFlush (d);
}

void Pointer::setButtonDown (bool isDown)
{
    if (unavailableReason.isNotEmpty())
        return;

    fakeButton (display, 1, isDown ? True : False, 0);
    XFlush (static_cast<Display*> (display));
}
} // namespace host::x11
