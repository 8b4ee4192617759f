#include "ConvolutionEngine.h"
#include "ConvolutionTestSupport.h"
#include "EmbeddedResponses.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

using namespace convtest;

namespace
{
struct EngineCase
{
    int impulseLength;
    int impulseChannels;
    int inputChannels;
    int block; // 0: random sizes
    bool gaps; // silent stretches in impulse and input
};

std::vector<Signal> makeImpulse (int length, int channels, bool gaps, unsigned seed)
{
    std::vector<Signal> h;
    for (int c = 0; c < channels; ++c)
    {
        Signal s = noise (length, seed + 17u * static_cast<unsigned> (c), 1.0, 3.0);
        if (gaps)
        {
            // Channel 0 falls silent where channel 1 still sounds and the other way round:
            // partitions that only one channel of a packed spectrum needs.
            const long from = c == 0 ? length / 5 : length / 2;
            for (long k = from; k < std::min<long> (length, from + length / 5); ++k)
                s[k] = 0.0f;
        }
        h.push_back (std::move (s));
    }
    return h;
}

std::vector<Signal> makeInput (long length, int channels, bool gaps, unsigned seed)
{
    std::vector<Signal> x;
    for (int c = 0; c < channels; ++c)
    {
        Signal s = noise (length, seed + 101u * static_cast<unsigned> (c));
        if (gaps)
            for (long i = length / 3; i < length / 3 + 40000 && i < length; ++i)
                s[i] = 0.0f;
        x.push_back (std::move (s));
    }
    return x;
}

} // namespace

TEST (ConvolutionEngine, MatchesDirectConvolutionAtZeroLatency)
{
    // Impulse lengths on both sides of every segment border of the plan, one and two channels
    // of impulse and input, fixed and random block sizes.
    constexpr int longest = ktotest::longestResponseFrames;
    const std::vector<EngineCase> cases {
        { 1, 1, 1, 1, false },       { 63, 2, 2, 7, false },       { 64, 1, 2, 64, false },     { 65, 2, 1, 100, false },
        { 128, 1, 1, 1, false },     { 129, 2, 2, 0, false },      { 640, 1, 2, 7, false },     { 641, 2, 2, 64, false },
        { 2560, 1, 1, 1024, false }, { 2561, 2, 2, 100, false },   { 2561, 1, 2, 1, false },    { 10240, 2, 1, 0, false },
        { 10241, 1, 2, 4096, false }, { 40960, 2, 2, 64, false },  { 40961, 1, 1, 0, false },   { 40961, 2, 2, 1024, true },
        { 100000, 2, 2, 1024, true }, { 100003, 1, 2, 7, false },  { longest, 2, 2, 64, false }, { longest, 1, 1, 4096, true },
        { longest, 2, 1, 0, false },
    };
    unsigned seed = 1;
    for (const auto& test : cases)
    {
        SCOPED_TRACE (testing::Message() << "impulse " << test.impulseLength << "x" << test.impulseChannels << ", input x"
                                         << test.inputChannels << ", block " << test.block << (test.gaps ? ", gaps" : ""));
        const auto h = makeImpulse (test.impulseLength, test.impulseChannels, test.gaps, seed++);
        const long length = test.impulseLength + (test.impulseLength > 20000 ? 40000 : 3000);
        const auto x = makeInput (length, test.inputChannels, test.gaps, seed++);

        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        EXPECT_EQ (engine.setImpulse (&buffer, 0, 0, 0, 0, 0), 0);
        const auto out = runEngine (engine, x, blockSchedule (length, test.block, seed++));

        std::vector<long> positions;
        if (static_cast<double> (test.impulseLength) * static_cast<double> (length) < 3e7)
        {
            positions.resize (length);
            std::iota (positions.begin(), positions.end(), 0L);
        }
        else
            positions = checkPositions (length, seed++);
        for (int c = 0; c < test.inputChannels; ++c)
        {
            const auto& hc = h[std::min (c, test.impulseChannels - 1)];
            expectConvolution (out[c], hc, x[c], positions, c == 0 ? "left" : "right");
        }
    }
}

TEST (ConvolutionEngine, StereoInputsThatMeetAndPart)
{
    // A two-channel impulse long enough for several partitions in every stage; inputs whose
    // channels are equal, part and meet again, or where one channel plays alone.
    const int impulseLength = 60000;
    const auto h = makeImpulse (impulseLength, 2, false, 500);
    const long length = 200000;
    const Signal a = noise (length, 501);
    const Signal b = noise (length, 502);
    const Signal silence (length, 0.0f);

    auto splice = [&] (std::vector<std::pair<long, const Signal*>> pieces) {
        Signal s (length);
        for (size_t i = 0; i < pieces.size(); ++i)
        {
            const long end = i + 1 < pieces.size() ? pieces[i + 1].first : length;
            std::copy (pieces[i].second->begin() + pieces[i].first, pieces[i].second->begin() + end, s.begin() + pieces[i].first);
        }
        return s;
    };

    struct Pattern
    {
        const char* name;
        Signal left, right;
    };
    const std::vector<Pattern> patterns {
        { "equal", a, a },
        { "left silent while right plays, then both silent", silence, splice ({ { 0, &a }, { 50000, &silence } }) },
        { "right silent while left plays, then both silent", splice ({ { 0, &a }, { 50000, &silence } }), silence },
        { "equal, different, equal", a, splice ({ { 0, &a }, { 60000, &b }, { 120000, &a } }) },
        { "one channel plays, then both the same",
          splice ({ { 0, &silence }, { 30000, &a } }), a },
    };
    for (const auto& pattern : patterns)
        for (const int block : { 64, 0 })
        {
            SCOPED_TRACE (testing::Message() << pattern.name << ", block " << block);
            const auto buffer = impulseOf (h);
            ConvolutionEngine engine;
            EXPECT_EQ (engine.setImpulse (&buffer, 0, 0, 0, 0, 0), 0);
            const std::vector<Signal> x { pattern.left, pattern.right };
            const auto out = runEngine (engine, x, blockSchedule (length, block, 7));
            auto positions = checkPositions (length, 9, 400);
            for (long p = 45000; p < 130000; p += 997)
                positions.push_back (p);
            expectConvolution (out[0], h[0], x[0], positions, "left");
            expectConvolution (out[1], h[1], x[1], positions, "right");
        }
}

TEST (ConvolutionEngine, EqualChannelsShareAndMonoImpulsePairs)
{
    // The work-saving paths are taken: equal inputs through a stereo impulse share their
    // spectra, a mono impulse pairs two channels in one transform.
    const long length = 70000;
    const Signal a = noise (length, 11);
    for (const int impulseChannels : { 2, 1 })
    {
        const auto h = makeImpulse (50000, impulseChannels, false, 12);
        const auto buffer = impulseOf (h);
        ConvolutionEngine engine;
        EXPECT_EQ (engine.setImpulse (&buffer, 0, 0, 0, 0, 0), 0);
        runEngine (engine, { a, a }, blockSchedule (length, 256, 1));
        ASSERT_EQ (engine.stageCount(), 6);
        const ConvolutionStage& last = *engine.stage (5);
        const auto* left = static_cast<const unsigned char*> (last.inputFlags[0].data);
        const auto* right = static_cast<const unsigned char*> (last.inputFlags[1].data);
        for (int s = 0; s < last.nParts(); ++s)
        {
            EXPECT_EQ (left[s], impulseChannels == 2 ? 1 : 2) << s;
            EXPECT_EQ (right[s], impulseChannels == 2 ? 1 : 0) << s;
        }
    }
}

TEST (ConvolutionEngine, PlansStagesForTheImpulse)
{
    struct Plan
    {
        int length, maxPartition, knownBlockSize, maxLength, latency;
        int returned;
        std::vector<std::array<int, 4>> stages; // fftSize, offsetInImpulse, impulseLen, nParts
    };
    const std::vector<Plan> plans {
        { 200000, 0, 0, 0, 0, 0,
          { { 0, 0, 64, 0 }, { 128, 64, 192, 3 }, { 512, 256, 768, 3 }, { 2048, 1024, 3072, 3 }, { 8192, 4096, 12288, 3 },
            { 32768, 16384, 183616, 12 } } },
        { 100, 0, 0, 0, 0, 0, { { 0, 0, 100, 0 } } },
        { 129, 0, 0, 0, 0, 0, { { 0, 0, 64, 0 }, { 128, 64, 65, 2 } } },
        { 640, 0, 0, 0, 0, 0, { { 0, 0, 64, 0 }, { 128, 64, 576, 9 } } },
        { 641, 0, 0, 0, 0, 0, { { 0, 0, 64, 0 }, { 128, 64, 192, 3 }, { 512, 256, 385, 2 } } },
        { 200000, 0, 0, 1000, 0, 0, { { 0, 0, 64, 0 }, { 128, 64, 192, 3 }, { 512, 256, 744, 3 } } },
        { 200000, 0, 512, 0, 0, 0,
          { { 0, 0, 256, 0 }, { 512, 256, 768, 3 }, { 2048, 1024, 3072, 3 }, { 8192, 4096, 12288, 3 }, { 32768, 16384, 183616, 12 } } },
        { 200000, 1024, 0, 0, 0, 0, { { 0, 0, 64, 0 }, { 128, 64, 192, 3 }, { 512, 256, 768, 3 }, { 2048, 1024, 198976, 195 } } },
        { 200000, 0, 0, 0, 1, 32, { { 64, 0, 64, 2 }, { 128, 64, 192, 3 }, { 512, 256, 768, 3 }, { 2048, 1024, 3072, 3 },
                                   { 8192, 4096, 12288, 3 }, { 32768, 16384, 183616, 12 } } },
        { 200000, 0, 0, 0, 100, 64,
          { { 128, 0, 128, 2 }, { 256, 128, 384, 3 }, { 1024, 512, 1536, 3 }, { 4096, 2048, 6144, 3 }, { 16384, 8192, 24576, 3 },
            { 32768, 32768, 167232, 11 } } },
        { 0, 0, 0, 0, 0, 0, { { 0, 0, 0, 0 } } },
    };
    for (const auto& plan : plans)
    {
        SCOPED_TRACE (testing::Message() << "length " << plan.length << ", latency " << plan.latency);
        const auto buffer = impulseOf ({ Signal (plan.length, 0.5f) });
        ConvolutionEngine engine;
        EXPECT_EQ (engine.setImpulse (&buffer, plan.maxPartition, plan.knownBlockSize, plan.maxLength, 0, plan.latency), plan.returned);
        ASSERT_EQ (engine.stageCount(), static_cast<int> (plan.stages.size()));
        for (int i = 0; i < engine.stageCount(); ++i)
        {
            const ConvolutionStage& s = *engine.stage (i);
            EXPECT_EQ (s.fftSize, plan.stages[i][0]) << i;
            EXPECT_EQ (s.offsetInImpulse, plan.stages[i][1]) << i;
            EXPECT_EQ (s.impulseLen, plan.stages[i][2]) << i;
            EXPECT_EQ (s.nParts(), plan.stages[i][3]) << i;
        }
    }
}

TEST (ConvolutionEngine, UnitImpulseAfterResetAndPassThroughWithoutImpulse)
{
    const auto h = makeImpulse (50000, 2, false, 77);
    const auto buffer = impulseOf (h);
    ConvolutionEngine engine;
    EXPECT_EQ (engine.setImpulse (&buffer, 0, 0, 0, 0, 0), 0);
    for (const int block : { 1, 64, 512, 4096 })
    {
        SCOPED_TRACE (block);
        engine.reset();
        const long length = 52000;
        Signal unit (length, 0.0f);
        unit[0] = 1.0f;
        const auto out = runEngine (engine, { unit, unit }, blockSchedule (length, block, 3));
        for (int c = 0; c < 2; ++c)
            for (long n = 0; n < length; n += (n < 20000 ? 1 : 7))
                ASSERT_NEAR (out[c][n], n < 50000 ? h[c][n] : 0.0f, 2e-6) << c << " " << n;
    }

    // No stages yet: silence. An offset past the end: the input passes.
    ConvolutionEngine fresh;
    float ones[8] = { 1, 1, 1, 1, 1, 1, 1, 1 };
    const float* in[1] = { ones };
    fresh.add (in, 8, 1);
    EXPECT_EQ (fresh.avail (8), 8);
    EXPECT_EQ (fresh.getOutput()[0][7], 0.0f);
    fresh.advance (8);
    EXPECT_EQ (fresh.getOutput()[0], nullptr);
    fresh.setImpulse (&buffer, 0, 0, 0, 60000, 0);
    fresh.add (in, 8, 1);
    EXPECT_EQ (fresh.avail (8), 8);
    EXPECT_EQ (fresh.getOutput()[0][7], 1.0f);
}
