#pragma once

// A fresh HOME for as long as the object lives, so that presets written or read under it land in
// a folder of their own.
#include <juce_core/juce_core.h>

#include <cstdlib>
#include <string>

namespace ktotest
{
class TemporaryHome
{
public:
    TemporaryHome()
    {
        std::string path = "/tmp/kto_home_XXXXXX";
        if (mkdtemp (path.data()) == nullptr)
            std::abort();
        folder = juce::File (path);
        if (const char* old = std::getenv ("HOME"))
            previous = old;
        setenv ("HOME", path.c_str(), 1);
    }
    ~TemporaryHome()
    {
        setenv ("HOME", previous.c_str(), 1);
        folder.deleteRecursively();
    }

    juce::File folder;

private:
    std::string previous;
};
} // namespace ktotest
