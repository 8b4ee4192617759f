// kto_bench_editor: the editor in a real window on an X server of its own. The CPU time the
// process spends while one editor stays open and idle for 10 s, and the time to open an editor
// until its first picture is painted: with the pictures in JUCE's image cache (warm), with the
// background dropped from it (cold), and for a new plug-in instance whose look decodes the knob
// pictures too.

#include "Processor.h"
#include "PrivateDisplay.h"
#include "TemporaryHome.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{
double processCpuSeconds()
{
    rusage u {};
    getrusage (RUSAGE_SELF, &u);
    return double (u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double wallSeconds()
{
    return std::chrono::duration<double> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}

struct Window
{
    explicit Window (Processor& p) : editor (p.createEditorIfNeeded()), processor (p)
    {
        editor->addToDesktop (0);
        editor->setVisible (true);
        editor->getPeer()->performAnyPendingRepaintsNow();
    }
    ~Window()
    {
        processor.editorBeingDeleted (editor.get());
    }
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    Processor& processor;
};

std::unique_ptr<Processor> newInstance()
{
    return std::unique_ptr<Processor> (dynamic_cast<Processor*> (createPluginFilter()));
}

void openingTimes()
{
    constexpr int rounds = 21;
    std::vector<double> warm, cold, fresh;
    auto processor = newInstance();
    for (int i = 0; i < rounds; ++i)
    {
        { Window w (*processor); } // leaves the background in the cache
        double t = wallSeconds();
        { Window w (*processor); t = wallSeconds() - t; }
        warm.push_back (t);

        juce::ImageCache::releaseUnusedImages();
        t = wallSeconds();
        { Window w (*processor); t = wallSeconds() - t; }
        cold.push_back (t);
    }
    processor.reset();
    for (int i = 0; i < rounds; ++i)
    {
        juce::ImageCache::releaseUnusedImages();
        double t = wallSeconds();
        auto p = newInstance();
        { Window w (*p); t = wallSeconds() - t; }
        fresh.push_back (t);
    }
    std::printf ("open editor to first paint, median of %d: warm cache %.2f ms, cold (background decoded) %.2f ms, "
                 "new instance + editor (all pictures decoded) %.2f ms\n",
                 rounds, median (warm) * 1e3, median (cold) * 1e3, median (fresh) * 1e3);
}

// CPU of the whole process over 10 s of the application's own message loop (which blocks while
// nothing is due, as a host's does), after a second to settle; first for a plug-in instance
// alone, then with its editor open.
struct IdleCpu : juce::Timer
{
    IdleCpu() { startTimer (1000); }

    void timerCallback() override
    {
        if (phase % 2 == 0)
        {
            cpu = processCpuSeconds();
            wall = wallSeconds();
            startTimer (10000);
        }
        else
        {
            share[phase / 2] = (processCpuSeconds() - cpu) / (wallSeconds() - wall);
            if (phase == 1)
                window = std::make_unique<Window> (*processor);
            else
            {
                std::printf ("idle, 10 s: plug-in instance alone %.2f %% of one core, with its editor open %.2f %%\n",
                             100.0 * share[0], 100.0 * share[1]);
                stopTimer();
                window.reset();
                juce::JUCEApplication::quit();
                return;
            }
            startTimer (1000);
        }
        ++phase;
    }

    std::unique_ptr<Processor> processor = newInstance();
    std::unique_ptr<Window> window;
    int phase = 0;
    double cpu = 0, wall = 0, share[2] = {};
};

struct Bench : juce::JUCEApplication
{
    const juce::String getApplicationName() override { return "kto_bench_editor"; }
    const juce::String getApplicationVersion() override { return "1"; }
    void initialise (const juce::String&) override
    {
        openingTimes();
        idle = std::make_unique<IdleCpu>();
    }
    void shutdown() override { idle.reset(); }
    std::unique_ptr<IdleCpu> idle;
};
} // namespace

int main (int argc, char** argv)
{
    ktotest::TemporaryHome home;
    ktotest::PrivateDisplay display;
    if (! display.ok)
        return 2;
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return new Bench(); };
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
