#pragma once

#include "ConvolutionEngine.h"
#include "Owned.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <vector>

namespace convtest
{
using ktotest::noise;
using ktotest::Signal;

// The impulse as the engine reads it: the first one or two of the signals.
inline ktotest::Owned<ImpulseBuffer> impulseOf (const std::vector<Signal>& h)
{
    ktotest::Owned<ImpulseBuffer> buffer;
    const float* channels[2] = { h[0].data(), h.back().data() };
    buffer.set (channels, static_cast<int> (h[0].size()), static_cast<int> (h.size()));
    return buffer;
}

// Exact output sample n of x convolved with taps [from, to) of h, in double precision.
inline double directAt (const Signal& h, const Signal& x, long n, long from = 0, long to = -1)
{
    if (to < 0 || to > static_cast<long> (h.size()))
        to = static_cast<long> (h.size());
    double sum = 0.0;
    const long first = std::max (from, n - static_cast<long> (x.size()) + 1);
    const long last = std::min (to - 1, n);
    for (long k = first; k <= last; ++k)
        sum += static_cast<double> (h[k]) * x[n - k];
    return sum;
}

// Block sizes: a fixed size, or (size 0) random sizes from 1 to 1500.
inline std::vector<int> blockSchedule (long total, int size, unsigned seed)
{
    std::vector<int> blocks;
    std::mt19937 random (seed);
    std::uniform_int_distribution<int> pick (1, 1500);
    for (long done = 0; done < total;)
    {
        const int n = static_cast<int> (std::min<long> (size > 0 ? size : pick (random), total - done));
        blocks.push_back (n);
        done += n;
    }
    return blocks;
}

// Runs the input through the engine block by block as the convolver does; every block must
// be delivered whole (zero latency). Returns the output per channel.
inline std::vector<Signal> runEngine (ConvolutionEngine& engine, const std::vector<Signal>& input, const std::vector<int>& blocks,
                                      const std::function<void (long)>& afterBlock = {})
{
    const int channels = static_cast<int> (input.size());
    std::vector<Signal> out (input.size(), Signal (input[0].size()));
    long position = 0;
    for (const int n : blocks)
    {
        const float* pointers[2] = { input[0].data() + position, channels > 1 ? input[1].data() + position : nullptr };
        engine.add (pointers, n, channels);
        const int got = engine.avail (n);
        EXPECT_EQ (got, n) << "at " << position;
        if (got != n)
            return out;
        float** result = engine.getOutput();
        for (int c = 0; c < channels; ++c)
            std::copy (result[c], result[c] + n, out[c].begin() + position);
        engine.advance (n);
        position += n;
        if (afterBlock)
            afterBlock (position);
    }
    return out;
}

// Output positions worth checking: every hop and segment border of the default plan (and its
// neighbours), the start, the end and spread random positions.
inline std::vector<long> checkPositions (long length, unsigned seed, int spread = 300)
{
    std::set<long> positions;
    for (long p = 0; p < std::min (length, 200L); ++p)
        positions.insert (p);
    // The first hops of each stage, then every hop of the largest one.
    for (long start : { 64L, 256L, 1024L, 4096L, 16384L })
        for (long p = start; p < length && (p <= 8 * start || start == 16384); p += start)
            for (long d : { -1L, 0L, 1L })
                if (p + d >= 0 && p + d < length)
                    positions.insert (p + d);
    std::mt19937 random (seed);
    std::uniform_int_distribution<long> pick (0, length - 1);
    for (int i = 0; i < spread; ++i)
        positions.insert (pick (random));
    for (long p = std::max (0L, length - 50); p < length; ++p)
        positions.insert (p);
    return { positions.begin(), positions.end() };
}

// Checks out[n] against the exact convolution at the positions; the error allowed is 1e-4 of
// the reference's peak over them.
inline void expectConvolution (const Signal& out, const Signal& h, const Signal& x, const std::vector<long>& positions,
                               const char* what)
{
    std::vector<double> reference (positions.size());
    double peak = 0.0;
    for (size_t i = 0; i < positions.size(); ++i)
    {
        reference[i] = directAt (h, x, positions[i]);
        peak = std::max (peak, std::fabs (reference[i]));
    }
    const double allowed = 1e-4 * std::max (peak, 1e-30);
    int reported = 0;
    for (size_t i = 0; i < positions.size(); ++i)
    {
        const double error = std::fabs (static_cast<double> (out[positions[i]]) - reference[i]);
        if (! (error <= allowed) && reported++ < 5)
            ADD_FAILURE() << what << ": sample " << positions[i] << " is " << out[positions[i]] << ", expected "
                          << reference[i] << " (peak " << peak << ")";
    }
}
} // namespace convtest
