// Entry point of the host tests: a console host with JUCE's message loop and no display.
#include "HostedPlugin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // JUCE's LV2 hosting scans ~/.lv2 before any folder we name, so an installed copy of the
    // plug-in would shadow the one the build made. A fresh HOME hides it (and any presets).
    std::string homeTemplate = "/tmp/kto_host_home_XXXXXX";
    if (mkdtemp (homeTemplate.data()) == nullptr)
        return 2;
    setenv ("HOME", homeTemplate.c_str(), 1);
    // No windows here: ":" names no display, so JUCE does not fall back to ":0.0".
    setenv ("DISPLAY", ":", 1);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
        kto::host::shutDownFormats();
    }
    juce::File (juce::String (homeTemplate)).deleteRecursively();
    return result;
}
