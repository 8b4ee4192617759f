// One processor driven from every side at once, as a busy host would: the audio thread, the
// host's other threads and the message thread. Run it under ThreadSanitizer (scripts/stress).
#include "PresetStore.h"
#include "Processor.h"

#include "../support/Parameters.h"
#include "../support/Signals.h"
#include "../support/TemporaryHome.h"
#include "../support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int maxBlock = 512;
// Every change away from 44.1 kHz resamples the response, which takes seconds under
// ThreadSanitizer, so the rate returns to 44.1 kHz in between.
const double rates[] = { 44100.0, 48000.0, 44100.0, 96000.0, 44100.0, 32000.0 };

double stressSeconds()
{
    if (const char* s = std::getenv ("KTO_STRESS_SECONDS"))
        return std::atof (s);
    return 4.0;
}

float typeValue (int type) { return (float) (type - 1) / 5.0f; }

TEST (ProcessorStress, EverythingAtOnceStaysCleanAndRaceFree)
{
    ktotest::TemporaryHome home;
    juce::ScopedJuceInitialiser_GUI juceInit;
    Processor p;
    juce::AudioProcessor::BusesLayout stereo;
    stereo.inputBuses.add (juce::AudioChannelSet::stereo());
    stereo.outputBuses.add (juce::AudioChannelSet::stereo());
    ASSERT_TRUE (p.setBusesLayout (stereo));
    p.setRateAndBufferSizeDetails (44100.0, maxBlock);
    p.prepareToPlay (44100.0, maxBlock);

    auto* type = ktotest::parameterNamed (p, "Reverb Type");
    auto* mix = ktotest::parameterNamed (p, "Mix");
    auto* gain = ktotest::parameterNamed (p, "Gain");
    auto* bypass = ktotest::parameterNamed (p, "Bypass");
    ASSERT_TRUE (type != nullptr && mix != nullptr && gain != nullptr && bypass != nullptr);

    // Saved states and presets for every type, two of each, with varied mix and gain.
    PresetStore presets (p.getParameters(), "kto_stress/presets.xml");
    std::vector<juce::MemoryBlock> states[7];
    for (int t = 1; t <= 6; ++t)
        for (int v = 0; v < 2; ++v)
        {
            type->setValue (typeValue (t));
            mix->setValue (v == 0 ? 1.0f : 0.4f);
            gain->setValue (v == 0 ? 0.5f : 0.3f);
            bypass->setValue (0.0f);
            juce::MemoryBlock state;
            p.getStateInformation (state);
            states[t].push_back (state);
            presets.savePreset ("type " + juce::String (t) + (v == 0 ? " wet" : " mixed"));
        }
    ASSERT_EQ (presets.getNumPresets(), 12);

    // Phases of 700 ms alternate, by the clock: types switch on every block, or one type holds
    // long enough for the loader to install it, so that the reverb itself runs while the rest
    // goes on. Each thread reads the clock itself: the message thread may sit in a long rebuild.
    // The run lasts its time and until every side has done its share; a busy machine only makes
    // it longer.
    const double start = juce::Time::getMillisecondCounterHiRes();
    const double end = start + stressSeconds() * 1000.0;
    const auto steadyType = [start] {
        const int phase = (int) ((juce::Time::getMillisecondCounterHiRes() - start) / 700.0);
        return phase % 2 == 0 ? 0 : 1 + (phase * 5) % 6;
    };
    std::atomic<long> blocks { 0 }, badSamples { 0 }, prepares { 0 }, restores { 0 };
    std::atomic<int> presetLoads { 0 };
    constexpr long minBlocks = 100, minPrepares = 2, minRestores = 10, minPresetLoads = 10;
    const double deadline = end + 1000.0 * (double) ktotest::waitDeadline.count();
    const auto running = [&] {
        const double now = juce::Time::getMillisecondCounterHiRes();
        return now < end
            || (now < deadline && (blocks < minBlocks || prepares < minPrepares || restores < minRestores || presetLoads < minPresetLoads));
    };
    // Paces a side by the audio thread's progress rather than by the clock.
    const auto awaitBlocks = [&] (const char* what, long count) {
        const long mark = blocks.load() + count;
        EXPECT_TRUE (ktotest::waitFor (what, [&] { return blocks.load() >= mark || ! running(); }));
    };

    std::thread audio ([&] {
        juce::Random random (11);
        ktotest::Lcg samples { 11 };
        juce::AudioBuffer<float> block (2, maxBlock);
        juce::MidiBuffer midi;
        while (running())
        {
            const int n = 1 + random.nextInt (maxBlock);
            block.setSize (2, n, false, false, true);
            ktotest::fillNoise (block, samples, 0.25);
            const int steady = steadyType();
            type->setValue (typeValue (steady != 0 ? steady : 1 + random.nextInt (6)));
            {
                // The wrappers hold the callback lock around every block.
                const juce::ScopedLock lock (p.getCallbackLock());
                p.processBlock (block, midi);
            }
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < n; ++i)
                    if (! std::isfinite (block.getSample (ch, i)))
                        badSamples.fetch_add (1);
            blocks.fetch_add (1);
        }
    });

    // A host thread re-initialising the plug-in at changing rates, without the callback lock.
    std::thread preparer ([&] {
        int k = 0;
        while (running())
        {
            p.prepareToPlay (rates[k++ % std::size (rates)], maxBlock);
            prepares.fetch_add (1);
            awaitBlocks ("50 blocks after a preparation", 50);
        }
    });

    // A host thread saving and restoring state.
    std::thread stateThread ([&] {
        juce::Random random (13);
        juce::MemoryBlock saved;
        while (running())
        {
            const int steady = steadyType();
            const int t = steady != 0 ? steady : 1 + random.nextInt (6);
            const auto& state = states[t][(size_t) random.nextInt (2)];
            p.setStateInformation (state.getData(), (int) state.getSize());
            p.getStateInformation (saved);
            restores.fetch_add (1);
            awaitBlocks ("a block after a state restore", 1);
        }
    });

    // The message thread: the loader's ticks (dispatched while it waits), and preset loads as the
    // preset bar makes them.
    juce::Random random (17);
    while (running())
    {
        awaitBlocks ("a few blocks between preset loads", 4);
        const int steady = steadyType();
        const int t = steady != 0 ? steady : 1 + random.nextInt (6);
        presets.loadPreset ((t - 1) * 2 + 1 + random.nextInt (2));
        ++presetLoads;
    }
    audio.join();
    preparer.join();
    stateThread.join();

    EXPECT_EQ (badSamples.load(), 0);
    EXPECT_GE (blocks.load(), minBlocks) << "audio blocks by the deadline";
    EXPECT_GE (prepares.load(), minPrepares) << "preparations by the deadline"; // at least one change of rate
    EXPECT_GE (restores.load(), minRestores) << "state restores by the deadline";
    EXPECT_GE (presetLoads.load(), minPresetLoads) << "preset loads by the deadline";
    std::printf ("%ld blocks, %ld preparations, %ld state restores, %d preset loads\n",
                 blocks.load(), prepares.load(), restores.load(), presetLoads.load());
}
TEST (ProcessorStress, DestroyedOnAHostThreadWhileTheMessageThreadRunsTimers)
{
    // As JUCE's LV2 wrapper does on Linux: instances made and destroyed on a host thread while
    // the message thread dispatches their loaders' ticks, some of them mid-load.
    ktotest::TemporaryHome home;
    juce::ScopedJuceInitialiser_GUI juceInit;
    Processor keeper; // holds the shared look-and-feel, so instances on the host thread never make or drop it

    const double end = juce::Time::getMillisecondCounterHiRes() + stressSeconds() * 1000.0;
    std::atomic<bool> finished { false };
    std::atomic<int> rounds { 0 }, destroyed { 0 };
    std::thread hostThread ([&] {
        juce::AudioBuffer<float> block (2, 64);
        juce::MidiBuffer midi;
        auto handOver = [&] (Processor& p, int type) {
            p.getParameters()[1]->setValue (typeValue (type));
            block.clear();
            p.processBlock (block, midi);
        };
        for (int round = 0; round < 2 || juce::Time::getMillisecondCounterHiRes() < end; ++round)
        {
            std::vector<std::unique_ptr<Processor>> instances;
            for (int i = 0; i < 3; ++i)
                instances.push_back (std::make_unique<Processor>());
            handOver (*instances[0], 6);
            EXPECT_TRUE (ktotest::waitFor ("a loader tick on the message thread",
                                           [&] { return ! instances[0]->impulseLoader.isPending(); }));
            // Due or running ticks meet the destructor at a different point in each round.
            for (size_t i = 0; i < instances.size(); ++i)
            {
                handOver (*instances[i], 1 + (round + (int) i) % 6);
                auto& loader = instances[i]->impulseLoader;
                const auto loading = [&] {
                    if (! loader.isPending() || ! loader.getRebuildMutex().try_lock())
                        return true;
                    loader.getRebuildMutex().unlock();
                    return false;
                };
                if ((round + (int) i) % 3 == 0)
                {
                    EXPECT_TRUE (ktotest::waitFor ("a tick to take up the load", loading));
                }
                instances[i].reset();
                destroyed.fetch_add (1);
            }
            rounds.fetch_add (1);
        }
        finished = true;
    });

    EXPECT_TRUE (ktotest::waitFor ("the host thread to finish its rounds", [&] { return finished.load(); }));
    hostThread.join();
    std::printf ("%d rounds, %d instances destroyed on the host thread\n", rounds.load(), destroyed.load());
}
} // namespace
