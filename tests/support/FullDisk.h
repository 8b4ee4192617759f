#pragma once

// While it lives, this process can write no byte to any file, as on a full disk: file writes fail
// where they would have written, and the signal that would end the process is ignored.
#include <sys/resource.h>

#include <csignal>

namespace ktotest
{
class FullDisk
{
public:
    FullDisk()
    {
        std::signal (SIGXFSZ, SIG_IGN);
        getrlimit (RLIMIT_FSIZE, &saved);
        rlimit none = saved;
        none.rlim_cur = 0;
        setrlimit (RLIMIT_FSIZE, &none);
    }
    ~FullDisk() { setrlimit (RLIMIT_FSIZE, &saved); }

private:
    rlimit saved {};
};
} // namespace ktotest
