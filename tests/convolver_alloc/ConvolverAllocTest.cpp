#include "AllocationCounter.h"
#include "EmbeddedResponses.h"
#include "Convolver.h"
#include "HeapBuffer.h"
#include "Owned.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

using namespace ktotest;

namespace
{
// Processes frames of noise in blocks; returns the allocations made while processing.
long play (Convolver& convolver, int frames, int block)
{
    long count = 0;
    std::vector<float> left (block), right (block);
    float* channels[] = { left.data(), right.data() };
    Lcg random { 5u };
    for (int done = 0; done < frames; done += block)
    {
        fillNoise (left.data(), block, random);
        std::transform (left.begin(), left.end(), right.begin(), std::negate<float>());
        allocations::start();
        convolver.process (channels, 2, block);
        count += allocations::stop();
    }
    return count;
}
} // namespace

TEST (ConvolverAllocation, CountingSeesBothAllocators)
{
    // Operator new here, and the C allocator inside the core library.
    allocations::start();
    auto* q = new int (3);
    EXPECT_EQ (allocations::stop(), 1);
    delete q;

    Owned<HeapBuffer> store;
    allocations::start();
    store.resize (100, false);
    EXPECT_EQ (allocations::stop(), 1);
}

TEST (ConvolverAllocation, ProcessAllocatesNothingOnceWarm)
{
    // Long enough for every stage of the chain, the last one a 32768-point FFT.
    Buffer source = decayingNoise (100000, 44100, 2, 77u, 1.0, 3.0);
    for (int block : { 32, 512, 4096 })
    {
        SCOPED_TRACE (block);
        Convolver convolver (&source);
        convolver.prepare (48000.0);
        play (convolver, 4 * 32768, block);
        EXPECT_EQ (play (convolver, 4 * 32768, block), 0);
    }
}

TEST (ConvolverAllocation, LongRunAllocatesNothingFromTheFirstBlock)
{
    // How the blocks fall against the stages' hops decides how large the queues and FIFOs grow,
    // so every pattern must find them reserved from the first block on (priming included), also
    // after a reset, at a second rate and for blocks beyond any host's maximum.
    Buffer source = decayingNoise (longestResponseFrames, 44100, 2, 77u, 1.0, 3.0);
    Convolver convolver (&source);
    struct Pattern
    {
        double rate;
        int block; // 0: random sizes 1..4096, now and then 20000
        long frames;
    };
    const Pattern patterns[] = { { 44100.0, 64, 1000000 },   { 44100.0, 256, 2000000 }, { 44100.0, 1000, 1500000 },
                                 { 44100.0, 1024, 1000000 }, { 44100.0, 4096, 1000000 }, { 44100.0, 0, 2500000 },
                                 { 96000.0, 0, 1000000 } };
    std::vector<float> left (20000), right (20000);
    float* channels[] = { left.data(), right.data() };
    Lcg random { 9u };
    for (const auto& pattern : patterns)
    {
        SCOPED_TRACE (testing::Message() << pattern.rate << " Hz, block " << pattern.block);
        convolver.prepare (pattern.rate);
        long count = 0;
        const long heapBefore = heapAllocationCount();
        long firstAt = -1;
        for (long done = 0; done < pattern.frames;)
        {
            int block = pattern.block;
            if (block == 0)
                block = random.next() % 50 == 0 ? 20000 : static_cast<int> (1 + random.next() % 4096);
            for (int i = 0; i < block; ++i)
            {
                left[i] = static_cast<float> (random.uniform());
                right[i] = static_cast<float> (random.uniform());
            }
            allocations::start();
            convolver.process (channels, 2, block);
            count += allocations::stop();
            if (firstAt < 0 && (count > 0 || heapAllocationCount() != heapBefore))
                firstAt = done;
            done += block;
        }
        EXPECT_EQ (count, 0) << "first at frame " << firstAt;
        EXPECT_EQ (heapAllocationCount(), heapBefore) << "first at frame " << firstAt;
        EXPECT_TRUE (std::isfinite (left[0]) && left[0] != 0.0f);
    }
}
