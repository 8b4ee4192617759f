#pragma once

// An X server of this process's own (Xvfb, on the first free display number from 99 on), with
// DISPLAY pointing at it: pointer, keyboard focus and window stacking then belong to this
// program alone while ctest runs others in parallel. The server ends with the object, or with
// the process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace ktotest
{
class PrivateDisplay
{
public:
    PrivateDisplay()
    {
        // Not display 0: JUCE falls back to ":0.0" when DISPLAY is unset, so every test program
        // that needs no window would connect to this server and die with it when it ends.
        for (int number = firstNumber; number < firstNumber + 400 && ! ok; ++number)
            if (access (("/tmp/.X" + std::to_string (number) + "-lock").c_str(), F_OK) != 0)
                ok = start (number);
    }

    ~PrivateDisplay() { stop(); }

    bool ok = false;

private:
    static constexpr int firstNumber = 99;

    // True once the server accepts connections; a number that another server took meanwhile
    // makes it exit at once.
    bool start (int number)
    {
        int fds[2];
        if (pipe (fds) != 0)
            return false;
        const auto display = ":" + std::to_string (number);
        server = fork();
        if (server == 0)
        {
            prctl (PR_SET_PDEATHSIG, SIGTERM);
            close (fds[0]);
            const int quiet = open ("/dev/null", O_WRONLY);
            dup2 (quiet, 2);
            const auto fd = std::to_string (fds[1]);
            execlp ("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp", "-noreset", static_cast<char*> (nullptr));
            _exit (127);
        }
        close (fds[1]);
        // The server writes its display number once it accepts connections.
        std::string written;
        char c = 0;
        pollfd p { fds[0], POLLIN, 0 };
        while (server > 0 && poll (&p, 1, 60000) > 0 && read (fds[0], &c, 1) == 1 && c != '\n')
            written += c;
        close (fds[0]);
        if (written.empty())
        {
            stop();
            return false;
        }
        setenv ("DISPLAY", (":" + written).c_str(), 1);
        return true;
    }

    void stop()
    {
        if (server > 0)
        {
            kill (server, SIGTERM);
            waitpid (server, nullptr, 0);
        }
        server = -1;
    }

    pid_t server = -1;
};
} // namespace ktotest
