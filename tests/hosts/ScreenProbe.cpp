#include "ScreenProbe.h"

// X's headers define macros (None, Bool, Status...) that clash with JUCE; they stay in here.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <memory>

namespace kto::host
{
namespace
{
struct Connection
{
    Display* display = XOpenDisplay (nullptr);
    ~Connection()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }
};
} // namespace

juce::Image grabScreen (juce::Rectangle<int> area)
{
    Connection x;
    if (x.display == nullptr)
        return {};
    XImage* shot = XGetImage (x.display, DefaultRootWindow (x.display), area.getX(), area.getY(),
                              (unsigned) area.getWidth(), (unsigned) area.getHeight(), AllPlanes, ZPixmap);
    if (shot == nullptr)
        return {};
    juce::Image image (juce::Image::RGB, area.getWidth(), area.getHeight(), false);
    for (int y = 0; y < area.getHeight(); ++y)
        for (int x0 = 0; x0 < area.getWidth(); ++x0)
            image.setPixelAt (x0, y, juce::Colour ((juce::uint32) (0xff000000u | (XGetPixel (shot, x0, y) & 0xffffffu))));
    XDestroyImage (shot);
    return image;
}

void clickScreen (juce::Point<int> position)
{
    Connection x;
    if (x.display == nullptr)
        return;
    XTestFakeMotionEvent (x.display, -1, position.x, position.y, CurrentTime);
    XTestFakeButtonEvent (x.display, 1, True, CurrentTime);
    XTestFakeButtonEvent (x.display, 1, False, CurrentTime);
    XSync (x.display, False);
}
} // namespace kto::host
