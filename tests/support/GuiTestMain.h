#pragma once

// Entry point for test programs that open real windows. Each program gets an X server of its
// own (Xvfb, on a display number the server picks), so that pointer, keyboard focus and window
// stacking belong to it alone while ctest runs other programs in parallel; and a fresh HOME, so
// that no installed plug-in or presets file is seen. The tests run inside a JUCEApplication:
// only then does JUCE install its X error handlers.

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace ktotest
{
class PrivateDisplay
{
public:
    PrivateDisplay()
    {
        int fds[2];
        if (pipe (fds) != 0)
            return;
        server = fork();
        if (server == 0)
        {
            prctl (PR_SET_PDEATHSIG, SIGTERM);
            close (fds[0]);
            const int quiet = open ("/dev/null", O_WRONLY);
            dup2 (quiet, 2);
            const auto fd = std::to_string (fds[1]);
            execlp ("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                    "-noreset", static_cast<char*> (nullptr));
            _exit (127);
        }
        close (fds[1]);
        // The server writes its display number once it accepts connections.
        std::string number;
        char c = 0;
        pollfd p { fds[0], POLLIN, 0 };
        while (server > 0 && poll (&p, 1, 60000) > 0 && read (fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close (fds[0]);
        if (! number.empty())
            setenv ("DISPLAY", (":" + number).c_str(), 1);
        ok = ! number.empty();
    }

    ~PrivateDisplay()
    {
        if (server > 0)
        {
            kill (server, SIGTERM);
            waitpid (server, nullptr, 0);
        }
    }

    bool ok = false;

private:
    pid_t server = -1;
};

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

    std::string home = "/tmp/kto_gui_home_XXXXXX";
    if (mkdtemp (home.data()) == nullptr)
        return 2;
    setenv ("HOME", home.c_str(), 1);

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
    juce::File (juce::String (home)).deleteRecursively();
    return result;
}
} // namespace ktotest
