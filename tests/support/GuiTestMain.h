#pragma once

// Entry point for test programs that open real windows: an X server of the program's own
// (PrivateDisplay.h), a fresh HOME so that no installed plug-in or presets file is seen, and the
// tests run inside a JUCEApplication: only then does JUCE install its X error handlers.

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include "PrivateDisplay.h"
#include "TemporaryHome.h"

#include <cstdio>
#include <functional>

namespace ktotest
{
inline std::function<void()>& beforeShutdown()
{
    static std::function<void()> f;
    return f;
}

class TestApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "tests"; }
    const juce::String getApplicationVersion() override { return "1"; }
    void initialise (const juce::String&) override
    {
        const int result = RUN_ALL_TESTS();
        if (beforeShutdown())
            beforeShutdown()();
        setApplicationReturnValue (result);
        quit();
    }
    void shutdown() override {}
};

// Runs every test on the message thread of a JUCEApplication, with its own display and HOME.
inline int runGuiTests (int argc, char** argv, std::function<void()> cleanUp = {})
{
    ::testing::InitGoogleTest (&argc, argv);
    if (::testing::GTEST_FLAG (list_tests))
        return RUN_ALL_TESTS();

    TemporaryHome home;
    int result = 2;
    {
        PrivateDisplay display;
        if (! display.ok)
        {
            std::fprintf (stderr, "could not start Xvfb\n");
            return 2;
        }
        beforeShutdown() = std::move (cleanUp);
        juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return new TestApplication(); };
        result = juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
    }
    return result;
}
} // namespace ktotest
