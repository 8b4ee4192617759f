#include "FuzzSupport.h"

#include "../support/Signals.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace kto::fuzz
{
namespace
{
struct Fixture
{
    Fixture()
    {
        // The processor reads and the presets target writes presets files under HOME. JUCE syncs
        // every file it writes to disk; in memory (tmpfs) that costs nothing.
        std::string home = juce::File ("/dev/shm").isDirectory() ? "/dev/shm/kto_fuzz_home_XXXXXX"
                                                                 : "/tmp/kto_fuzz_home_XXXXXX";
        if (mkdtemp (home.data()) == nullptr)
            std::abort();
        homePath = home;
        setenv ("HOME", home.c_str(), 1);
        init = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        proc = std::make_unique<Processor>();
        juce::AudioProcessor::BusesLayout stereo;
        stereo.inputBuses.add (juce::AudioChannelSet::stereo());
        stereo.outputBuses.add (juce::AudioChannelSet::stereo());
        proc->setBusesLayout (stereo);
        proc->setRateAndBufferSizeDetails (44100.0, 64);
        proc->prepareToPlay (44100.0, 64);
    }

    ~Fixture()
    {
        proc.reset();
        init.reset();
        juce::File (juce::String (homePath)).deleteRecursively();
    }

    std::string homePath;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> init;
    std::unique_ptr<Processor> proc;
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}
} // namespace

Processor& processor()
{
    return *fixture().proc;
}

void resetParameters()
{
    for (auto* p : processor().getParameters())
        p->setValue (p->getDefaultValue());
}

void processProbeBlock()
{
    auto& p = processor();
    juce::AudioBuffer<float> block (2, 32);
    ktotest::fillNoise (block, 1, 0.5);
    juce::MidiBuffer midi;
    p.processBlock (block, midi);
}
} // namespace kto::fuzz
