#pragma once

// A fresh HOME for as long as the object lives, so that presets written or read under it land in
// a folder of their own. mkdtemp, because ctest runs test programs side by side and a name merely
// checked to be free may be taken by another process before it is made.
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
        const char* old = std::getenv ("HOME");
        hadHome = old != nullptr;
        if (hadHome)
            previous = old;
        setenv ("HOME", path.c_str(), 1);
    }
    ~TemporaryHome()
    {
        if (hadHome)
            setenv ("HOME", previous.c_str(), 1);
        else
            unsetenv ("HOME");
        folder.deleteRecursively();
    }

    juce::File folder;

private:
    std::string previous;
    bool hadHome = false;
};
} // namespace ktotest
