// kto_bench_processor: CPU of Processor::processBlock (stereo, 64-frame blocks, Mix 50 %, Gain
// 0 dB) against the bare Convolver on the same impulse response and input, measured in one run with
// alternating rounds; and the time from a reverb-type change to the first convolved block, without
// the wait for the loader's tick (decode plus rebuild), at 44.1 and 96 kHz.

#include "AUStandIn.h"
#include "Processor.h"

#include "../tests/support/ImpulseLoaderAccess.h"
#include "../tests/support/Signals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{
double threadCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return double (t.tv_sec) + double (t.tv_nsec) * 1e-9;
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

void roadAgainstConvolver()
{
    constexpr int blockSize = 64;
    constexpr int blocksPerRound = 2000;
    constexpr int rounds = 15;

    kto::host::AudioUnitStandIn unit;
    unit.setChannels (2, 2);
    unit.setMaxFramesPerSlice (blockSize);
    unit.initialize();
    auto& proc = dynamic_cast<Processor&> (unit.getProcessor());
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    proc.processBlock (buffer, midi); // hands over type 1
    ImpulseLoaderTestAccess::tick (proc.impulseLoader);

    Buffer impulse (1, 1, 44100);
    const auto& entry = kto::resources::table[0];
    decodeFlacToBuffer (entry.data, entry.size, &impulse, 44100);
    Convolver bare (&impulse);
    bare.prepare (44100.0);

    // The same input for both, prepared before timing.
    ktotest::Lcg random { 1 };
    std::vector<juce::AudioBuffer<float>> input (blocksPerRound, juce::AudioBuffer<float> (2, blockSize));
    for (auto& b : input)
        ktotest::fillNoise (b, random, 0.5);

    std::vector<double> roadTimes, bareTimes;
    for (int round = 0; round < rounds; ++round)
    {
        double t0 = threadCpuSeconds();
        for (const auto& b : input)
        {
            buffer.makeCopyOf (b, true);
            proc.processBlock (buffer, midi);
        }
        double t1 = threadCpuSeconds();
        for (const auto& b : input)
        {
            buffer.makeCopyOf (b, true);
            bare.process (buffer.getArrayOfWritePointers(), 2, blockSize);
        }
        double t2 = threadCpuSeconds();
        if (round > 0) // the first round warms caches and the engine's queues
        {
            roadTimes.push_back ((t1 - t0) / blocksPerRound);
            bareTimes.push_back ((t2 - t1) / blocksPerRound);
        }
    }

    const double road = median (roadTimes), plain = median (bareTimes);
    std::printf ("Audio road, stereo, 64-frame blocks, impulse response 1 (7.72 s) at 44100 Hz\n");
    std::printf ("  Processor::processBlock  %8.2f us/block  (median of %d rounds of %d blocks)\n", road * 1e6,
                 rounds - 1, blocksPerRound);
    std::printf ("  Convolver::process       %8.2f us/block\n", plain * 1e6);
    std::printf ("  road overhead            %8.2f %%  (goal: at most 5 %%)\n", (road / plain - 1.0) * 100.0);
    std::printf ("  real-time load           %8.2f %% of one core\n", road / (blockSize / 44100.0) * 100.0);
}

void typeChanges (double rate)
{
    constexpr int blockSize = 64;
    kto::host::AudioUnitStandIn unit;
    unit.setChannels (2, 2);
    unit.setSampleRate (rate);
    unit.setMaxFramesPerSlice (blockSize);
    unit.initialize();
    auto& proc = dynamic_cast<Processor&> (unit.getProcessor());
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    ktotest::Lcg random { 2 };

    std::printf ("Reverb-type change to the first convolved block at %.0f Hz (decode + rebuild, no tick wait)\n", rate);
    // The rebuild alone is timed on a convolver of its own at the same rate that has rebuilt
    // before, as the processor's has: its memory has been touched already.
    Buffer start (1, 1, 44100);
    Convolver own (&start);
    own.prepare (rate);
    for (int type = 1; type <= 6; ++type)
    {
        std::vector<double> totals, decodes, rebuilds;
        for (int repeat = 0; repeat < 5; ++repeat)
        {
            // Leave the type and come back, so each measured change is a real one.
            proc.revTypeParam->setValue (float ((type % 6)) / 5.0f);
            ktotest::fillNoise (buffer, random, 0.5);
            proc.processBlock (buffer, midi);
            ImpulseLoaderTestAccess::tick (proc.impulseLoader);

            proc.revTypeParam->setValue (float (type - 1) / 5.0f);
            ktotest::fillNoise (buffer, random, 0.5);
            proc.processBlock (buffer, midi); // requests the type: attenuated hand-over

            const double t0 = wallSeconds();
            ImpulseLoaderTestAccess::tick (proc.impulseLoader);
            ktotest::fillNoise (buffer, random, 0.5);
            proc.processBlock (buffer, midi); // the first convolved block
            const double t1 = wallSeconds();
            totals.push_back (t1 - t0);

            Buffer scratch (1, 1, 44100);
            const auto& entry = kto::resources::table[type - 1];
            const double d0 = wallSeconds();
            decodeFlacToBuffer (entry.data, entry.size, &scratch, 44100);
            decodes.push_back (wallSeconds() - d0);

            if (repeat == 0)
                own.setImpulse (scratch);
            const double r0 = wallSeconds();
            own.setImpulse (scratch);
            rebuilds.push_back (wallSeconds() - r0);
        }
        std::printf ("  type %d  %7.1f ms total  (decode %5.1f ms, rebuild %5.1f ms)\n", type,
                     median (totals) * 1e3, median (decodes) * 1e3, median (rebuilds) * 1e3);
    }
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI gui;
    roadAgainstConvolver();
    typeChanges (44100.0);
    typeChanges (96000.0);
    return 0;
}
