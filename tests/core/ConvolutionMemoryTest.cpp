#include "AllocationCounter.h"
#include "ConvolutionEngine.h"
#include "ConvolutionTestSupport.h"
#include "EmbeddedResponses.h"
#include "Failures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>

using namespace convtest;
using ktotest::whileFailing;

namespace
{
// Runs blocks tolerating short deliveries: appends what the engine reports to delivered and
// notes, per stage offset, the first summed position at which the stage was found failed.
struct Runner
{
    Runner (ConvolutionEngine& e, const std::vector<Signal>& x) : engine (e), input (x) {}

    ConvolutionEngine& engine;
    const std::vector<Signal>& input;
    std::vector<Signal> delivered { 2 };
    std::map<int, long> failedFrom;
    long position = 0;

    void run (int blocks, int size)
    {
        for (int b = 0; b < blocks && position < static_cast<long> (input[0].size()); ++b)
        {
            const int n = static_cast<int> (std::min<long> (size, static_cast<long> (input[0].size()) - position));
            const float* pointers[2] = { input[0].data() + position, input[1].data() + position };
            const long summedBefore = static_cast<long> (delivered[0].size()) + engine.output[0].unread();
            engine.add (pointers, n, 2);
            const int got = engine.avail (n);
            for (int i = 0; i < engine.stageCount(); ++i)
                if (engine.stage (i)->failed)
                    failedFrom.emplace (engine.stage (i)->offsetInImpulse, summedBefore);
            ASSERT_GE (got, 0);
            ASSERT_LE (got, engine.output[0].unread());
            ASSERT_EQ (engine.output[0].unread(), engine.output[1].unread());
            float** out = engine.getOutput();
            for (int c = 0; c < 2; ++c)
            {
                ASSERT_TRUE (got == 0 || out[c] != nullptr);
                delivered[c].insert (delivered[c].end(), out[c], out[c] + got);
            }
            engine.advance (got);
            position += n;
        }
    }
};
} // namespace

TEST (ConvolutionEngineMemory, StageWithoutMemoryContributesSilence)
{
    // Every allocation the engine makes, in turn, fails (and all after it until the switch is
    // reset): while setting the impulse, and while priming and processing the first blocks.
    // Whatever the engine delivers must be the convolution with exactly the segments of the
    // stages that still work: no garbage, no dry signal, nothing out of place.
    const int impulseLength = 3000;
    const std::vector<Signal> h { noise (impulseLength, 1, 1.0, 3.0), noise (impulseLength, 2, 1.0, 3.0) };
    const long length = 6000;
    const std::vector<Signal> x { noise (length, 3), noise (length, 4) };
    const std::map<int, int> segmentEnd { { 0, 64 }, { 64, 256 }, { 256, 1024 }, { 1024, impulseLength } };
    std::map<int, std::vector<Signal>> segment;
    for (const auto& [from, to] : segmentEnd)
        for (int c = 0; c < 2; ++c)
        {
            Signal s (length);
            for (long n = 0; n < length; ++n)
                s[n] = static_cast<float> (directAt (h[c], x[c], n, from, to));
            segment[from].push_back (std::move (s));
        }

    auto check = [&] (const ConvolutionEngine& engine, const Runner& runner, const char* phase, long k) {
        std::map<int, long> until; // summed positions below which a stage contributes
        for (int i = 0; i < engine.stageCount(); ++i)
        {
            const int offset = engine.stage (i)->offsetInImpulse;
            const auto failed = runner.failedFrom.find (offset);
            until[offset] = failed == runner.failedFrom.end() ? length : failed->second;
        }
        for (int c = 0; c < 2; ++c)
        {
            const Signal& got = runner.delivered[c];
            int reported = 0;
            for (size_t n = 0; n < got.size(); ++n)
            {
                double expected = 0.0;
                for (const auto& [offset, limit] : until)
                    if (static_cast<long> (n) < limit)
                        expected += segment[offset][c][n];
                if (! (std::fabs (got[n] - expected) <= 1e-4) && reported++ < 3)
                    ADD_FAILURE() << phase << " failing after " << k << " allocations: channel " << c << " sample " << n << " is "
                                  << got[n] << ", expected " << expected;
            }
        }
    };

    long setImpulseAllocations = 0, processingAllocations = 0;
    {
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        const long before = heapAllocationCount();
        engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
        setImpulseAllocations = heapAllocationCount() - before;
        Runner runner (engine, x);
        runner.run (20, 64);
        processingAllocations = heapAllocationCount() - before - setImpulseAllocations;
    }
    ASSERT_GT (setImpulseAllocations, 4);
    ASSERT_GT (processingAllocations, 4);

    for (long k = 0; k <= setImpulseAllocations; ++k)
    {
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        whileFailing (k, [&] { engine.setImpulse (&buffer, 0, 0, 0, 0, 0); });
        Runner runner (engine, x);
        runner.run (1000, 64);
        EXPECT_EQ (runner.delivered[0].size(), static_cast<size_t> (length));
        check (engine, runner, "setImpulse", k);
    }

    // Reservation failing from the k-th allocation on: stages without their memory stay silent,
    // and when the outputs got theirs, processing never asks for memory.
    long reserveAllocations = 0;
    {
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
        const long before = heapAllocationCount();
        EXPECT_TRUE (engine.reserve (4096, 2));
        reserveAllocations = heapAllocationCount() - before;
    }
    ASSERT_GT (reserveAllocations, 4);
    for (long k = 0; k <= reserveAllocations; ++k)
    {
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
        const bool reserved = whileFailing (k, [&] { return engine.reserve (4096, 2); });
        const long before = heapAllocationCount();
        Runner runner (engine, x);
        runner.run (1000, 100);
        if (reserved)
        {
            EXPECT_EQ (heapAllocationCount(), before) << k;
        }
        EXPECT_EQ (runner.delivered[0].size(), static_cast<size_t> (length));
        check (engine, runner, "reserve", k);
    }

    // Failing from the k-th allocation on, or only the k-th.
    for (const long failures : { -1L, 1L })
        for (const int block : { 64, 100 })
            for (long k = 0; k <= processingAllocations; ++k)
            {
                const auto buffer = impulseOf (h);
                ConvolutionEngine engine;
                engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
                Runner runner (engine, x);
                whileFailing (k, [&] { runner.run (20, block); }, failures);
                runner.run (1000, block);
                // Blocks whose output could not be stored are late, never wrong.
                EXPECT_GE (runner.delivered[0].size(), static_cast<size_t> (length - 21 * block));
                check (engine, runner, failures < 0 ? "processing, all" : "processing, one", k);
            }
}

TEST (ConvolutionEngineMemory, ProcessingAllocatesNothingOnceWarm)
{
    struct Case
    {
        int impulseChannels;
        bool equalInputs;
        int block;
    };
    const std::vector<Case> cases { { 2, false, 64 }, { 2, true, 1000 }, { 1, false, 256 }, { 2, false, 4096 } };
    const int impulseLength = 100000;
    const long warmUp = 4 * 32768;
    const long length = warmUp + 200000;
    const Signal a = noise (length, 5), b = noise (length, 6);
    for (const auto& test : cases)
    {
        SCOPED_TRACE (testing::Message() << test.impulseChannels << " impulse channels, block " << test.block);
        std::vector<Signal> h;
        for (int c = 0; c < test.impulseChannels; ++c)
            h.push_back (noise (impulseLength, 7u + static_cast<unsigned> (c), 1.0, 5.0));
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
        const std::vector<Signal> x { a, test.equalInputs ? a : b };
        long heapBefore = 0;
        runEngine (engine, x, blockSchedule (length, test.block, 1), [&] (long position) {
            if (position - test.block < warmUp && position >= warmUp)
            {
                heapBefore = heapAllocationCount();
                ktotest::allocations::start();
            }
        });
        EXPECT_EQ (ktotest::allocations::stop(), 0);
        EXPECT_EQ (heapAllocationCount(), heapBefore);
    }
}

TEST (ConvolutionEngineMemory, ReservedEngineAllocatesNothingFromTheFirstBlock)
{
    // As long as the longest embedded response: without the reservation, blocks of 256 made the last
    // stage's input queue take one more chunk after some 4000 blocks, as the fill of its chunks
    // drifted against the hops. Counting starts with the first (priming) block.
    const int impulseLength = ktotest::longestResponseFrames;
    const std::vector<Signal> h { noise (impulseLength, 11, 1.0, 4.25), noise (impulseLength, 12, 1.0, 4.25) };
    const auto buffer = impulseOf (h);
    const long length = 1200000;
    const std::vector<Signal> x { noise (length, 13), noise (length, 14) };
    // Blocks of 256, random blocks, and a mono stretch before stereo (the rings a channel
    // count change rebuilds keep their memory).
    struct Case
    {
        int block;
        bool monoFirst;
    };
    for (const auto [block, monoFirst] : { Case { 256, false }, Case { 0, false }, Case { 256, true } })
    {
        SCOPED_TRACE (block);
        SCOPED_TRACE (monoFirst);
        ConvolutionEngine engine;
        engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
        ASSERT_TRUE (engine.reserve (4096, 2));
        const long heapBefore = heapAllocationCount();
        ktotest::allocations::start();
        std::mt19937 random (15);
        std::uniform_int_distribution<int> pick (1, 4096);
        for (long position = 0; position < length;)
        {
            const int n = static_cast<int> (std::min<long> (block > 0 ? block : pick (random), length - position));
            const float* pointers[2] = { x[0].data() + position, x[1].data() + position };
            engine.add (pointers, n, monoFirst && position < length / 2 ? 1 : 2);
            ASSERT_EQ (engine.avail (n), n);
            engine.advance (n);
            position += n;
        }
        EXPECT_EQ (heapAllocationCount(), heapBefore);
        EXPECT_EQ (ktotest::allocations::stop(), 0);
        for (int i = 0; i < engine.stageCount(); ++i)
            EXPECT_FALSE (engine.stage (i)->failed);
    }
}
