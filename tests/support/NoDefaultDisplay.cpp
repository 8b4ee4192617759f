// JUCE takes a missing or empty DISPLAY to mean ":0.0". On a shared machine that may be someone
// else's server (an Xvfb started with -displayfd takes the first free number), and when that
// server goes away, X takes the test program down with it. Here no DISPLAY means no display; a
// DISPLAY that is set (a test's own Xvfb) is left alone.
#include <cstdlib>

namespace
{
[[maybe_unused]] const bool noDefaultDisplay = [] {
    const char* display = std::getenv ("DISPLAY");
    if (display == nullptr || *display == '\0')
        setenv ("DISPLAY", "none", 1);
    return true;
}();
} // namespace
