#pragma once

// An X server of this process's own (Xvfb, on a display number the server picks itself), with
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
} // namespace ktotest
