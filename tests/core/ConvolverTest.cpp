#include "Convolver.h"
#include "HeapBuffer.h"
#include "ResampleBuffer.h"

#include "ConvolutionTestSupport.h"
#include "Failures.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numeric>
#include <cstdint>
#include <string>
#include <vector>

using namespace ktotest;

namespace
{
constexpr double twoPi = 6.283185307179586476925;

Channels impulseOn (int channel, int channels, int frames)
{
    Channels x (channels, std::vector<float> (frames));
    x[channel][0] = 1.0f;
    return x;
}

// The scaled conversion the engine should hold, built independently of the Convolver's members.
Buffer expectedWorking (const Buffer& source, double rate)
{
    Buffer b = resampleBuffer (source, static_cast<int> (rate));
    const auto gain = static_cast<float> (source.sampleRate / rate);
    for (int c = 0; c < b.audio.getNumChannels(); ++c)
        for (int i = 0; i < b.audio.getNumSamples(); ++i)
            b.audio.setSample (c, i, b.audio.getSample (c, i) * gain);
    return b;
}

void expectSame (const Buffer& a, const Buffer& b)
{
    ASSERT_EQ (a.sampleRate, b.sampleRate);
    ASSERT_EQ (a.audio.getNumChannels(), b.audio.getNumChannels());
    ASSERT_EQ (a.audio.getNumSamples(), b.audio.getNumSamples());
    for (int c = 0; c < a.audio.getNumChannels(); ++c)
        for (int i = 0; i < a.audio.getNumSamples(); ++i)
            ASSERT_EQ (a.audio.getSample (c, i), b.audio.getSample (c, i)) << c << " " << i;
}

// A unit impulse into each channel in turn returns that channel of the response, and nothing in
// the other channel.
void expectResponse (Convolver& convolver, const Buffer& response, int block)
{
    const int frames = response.audio.getNumSamples() + 300;
    for (int ch = 0; ch < 2; ++ch)
    {
        convolver.prepare (convolver.sampleRate);
        const auto y = processInBlocks (convolver, impulseOn (ch, 2, frames), block);
        for (int i = 0; i < frames; ++i)
        {
            const float want = i < response.audio.getNumSamples() ? response.audio.getSample (ch, i) : 0.0f;
            ASSERT_NEAR (y[ch][i], want, 2e-6) << ch << " " << i;
            ASSERT_EQ (y[1 - ch][i], 0.0f) << "cross-feed at " << i;
        }
    }
}

// A rebuild replaces every stage; a mark left in the last stage survives only without one.
struct RebuildMark
{
    explicit RebuildMark (Convolver& c) : convolver (c), original (last()->offsetInImpulse)
    {
        last()->offsetInImpulse = -12345;
    }
    // True while no rebuild happened; the stage gets its own value back.
    bool intact()
    {
        const bool marked = last()->offsetInImpulse == -12345;
        if (marked)
            last()->offsetInImpulse = original;
        return marked;
    }
    ConvolutionStage* last() { return convolver.engine.stage (convolver.engine.stageCount() - 1); }
    Convolver& convolver;
    int original;
};
} // namespace

TEST (Convolver, UnitImpulseReturnsTheHeldResponse)
{
    struct Case
    {
        double rate;
        float gain;
        int frames;
        int block;
    };
    const Case cases[] = { { 44100.0, 1.0f, 20000, 512 }, { 48000.0, 0.91875f, 21768, 100 },
                           { 96000.0, 0.459375f, 43537, 1 << 12 },
                           // Beyond the engine's largest piece: the block goes in as pieces.
                           { 44100.0, 1.0f, 20000, 20001 } };
    Buffer source = decayingNoise (20000, 44100, 2, 7u);
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.rate);
        Convolver convolver (&source);
        convolver.prepare (c.rate);
        EXPECT_EQ (convolver.sampleRate, c.rate);
        EXPECT_EQ (static_cast<float> (44100.0 / c.rate), c.gain);
        if (c.rate == 44100.0)
        {
            EXPECT_EQ (convolver.working.audio.getNumSamples(), 1); // untouched: the source goes in as it is
            expectResponse (convolver, source, c.block);
            continue;
        }
        ASSERT_EQ (convolver.working.audio.getNumSamples(), c.frames);
        const Buffer want = expectedWorking (source, c.rate);
        expectSame (convolver.working, want);
        expectResponse (convolver, want, c.block);
    }
}

TEST (Convolver, SetImpulseAtTheProcessingRate)
{
    Buffer source = decayingNoise (3000, 44100, 2, 1u);
    Convolver convolver (&source);
    const Buffer loaded = decayingNoise (5000, 44100, 2, 99u);

    // At the impulse's own rate it goes to the engine unchanged.
    convolver.setImpulse (loaded);
    EXPECT_EQ (convolver.working.audio.getNumSamples(), 1);
    expectResponse (convolver, loaded, 256);

    // At 96 kHz it is resampled and scaled by 0.459375; the rate stays.
    convolver.prepare (96000.0);
    convolver.setImpulse (loaded);
    EXPECT_EQ (convolver.sampleRate, 96000.0);
    const Buffer want = expectedWorking (loaded, 96000.0);
    expectSame (convolver.working, want);
    expectResponse (convolver, want, 64);

    // A mono impulse response at 96 kHz feeds one channel.
    const Buffer mono = decayingNoise (4000, 96000, 1, 5u);
    convolver.setImpulse (mono);
    EXPECT_EQ (convolver.impulse.numChannels, 1);
    EXPECT_EQ (convolver.impulse.length(), 4000);
}

TEST (Convolver, PrepareAtTheHeldRateOnlyClearsTheTail)
{
    Buffer source = decayingNoise (12000, 44100, 2, 3u);
    for (double rate : { 44100.0, 48000.0 })
    {
        SCOPED_TRACE (rate);
        Convolver convolver (&source);
        convolver.prepare (rate);
        const Buffer working = convolver.working;
        // Leave a tail ringing.
        processInBlocks (convolver, noiseChannels (2, 3000, 11u, 0.5), 128);

        RebuildMark mark (convolver);
        convolver.prepare (rate);
        EXPECT_TRUE (mark.intact()); // not rebuilt
        expectSame (convolver.working, working);
        EXPECT_EQ (convolver.sampleRate, rate);

        const auto silence = processInBlocks (convolver, Channels (2, Signal (20000)), 333);
        for (const auto& channel : silence)
            for (float v : channel)
                ASSERT_EQ (v, 0.0f);
    }
}

TEST (Convolver, FractionalRateKeepsTheLengthAndScales)
{
    // Half a hertz above the source's rate truncates to the same rate: a scaled exact copy.
    Buffer source = decayingNoise (2000, 44100, 2, 4u);
    Convolver convolver (&source);
    convolver.prepare (44100.5);
    EXPECT_EQ (convolver.sampleRate, 44100.5);
    EXPECT_EQ (convolver.working.sampleRate, 44100);
    const auto gain = static_cast<float> (44100.0 / 44100.5);
    ASSERT_EQ (convolver.working.audio.getNumSamples(), 2000);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 2000; ++i)
            ASSERT_EQ (convolver.working.audio.getSample (c, i), source.audio.getSample (c, i) * gain);

    // Back at the source's rate the copy is taken again with a gain of 1.
    convolver.prepare (44100.0);
    expectSame (convolver.working, source);
}

TEST (Convolver, UnusableRatesChangeNothing)
{
    Buffer source = decayingNoise (3000, 44100, 2, 8u);
    Convolver convolver (&source);
    convolver.prepare (48000.0);
    const Buffer working = convolver.working;
    const Buffer tooShort (2, 1, 96000); // one frame at 96 kHz is no frame at 48 kHz

    struct Case
    {
        const char* what;
        std::function<void()> call;
        int line; // of Buffer.cpp; 0: any precondition
    };
    const Case cases[] = {
        { "prepare 0.5", [&] { convolver.prepare (0.5); }, 52 },
        { "prepare -44100", [&] { convolver.prepare (-44100.0); }, 52 },
        { "prepare NaN", [&] { convolver.prepare (std::nan ("")); }, 0 },
        { "prepare 1e12", [&] { convolver.prepare (1e12); }, 0 },
        { "setImpulse of no frames", [&] { convolver.setImpulse (tooShort); }, 44 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        RebuildMark mark (convolver);
        const std::string message = failureMessage (c.call);
        if (c.line != 0)
            EXPECT_EQ (message, bufferPrecondition (c.line));
        else
            EXPECT_NE (message, "no failure");
        EXPECT_TRUE (mark.intact()); // the engine was not rebuilt
        EXPECT_EQ (convolver.sampleRate, 48000.0);
        expectSame (convolver.working, working);
        expectResponse (convolver, working, 256);
    }
}

TEST (Convolver, ProcessEdgeCases)
{
    Buffer source = decayingNoise (300, 44100, 2, 2u);
    Convolver convolver (&source);

    // Nothing to do: nothing written.
    std::vector<float> a (64, 0.5f), b (64, 0.5f), c (64, 0.5f);
    float* three[] = { a.data(), b.data(), c.data() };
    convolver.process (three, 2, 0);
    convolver.process (three, 0, 64);
    convolver.process (nullptr, 2, 64);
    for (const auto* v : { &a, &b })
        for (float x : *v)
            ASSERT_EQ (x, 0.5f);

    // A third channel is beyond the engine: it is silenced, the first two are convolved.
    a.assign (64, 0.0f);
    b.assign (64, 0.0f);
    a[0] = 1.0f;
    b[0] = 1.0f;
    convolver.process (three, 3, 64);
    for (int i = 0; i < 64; ++i)
    {
        ASSERT_NEAR (a[i], source.audio.getSample (0, i), 1e-6);
        ASSERT_NEAR (b[i], source.audio.getSample (1, i), 1e-6);
        ASSERT_EQ (c[i], 0.0f);
    }
}

TEST (Convolver, MemoryThatCannotBeHadLeavesSilenceNotGarbage)
{
    // Allocations fail while the convolver is built, from the allowed-th on or only that one.
    // Processing then never asks for memory and gives exactly the convolution with the taps of the
    // stages that got their memory (the others are silent), or silence when the outputs could not
    // reserve theirs. The outputs reserve last, so failing from any allocation on leaves silence.
    Buffer source = decayingNoise (5000, 44100, 2, 6u);
    long needed = heapAllocationCount();
    {
        const Convolver measured (&source);
        needed = heapAllocationCount() - needed;
    }
    const Channels x = noiseChannels (2, 1024, 16u, 0.25);
    std::vector<long> everySample (1024);
    std::iota (everySample.begin(), everySample.end(), 0L);
    for (const long failures : { -1L, 1L })
        for (long allowed = 0; allowed <= needed; ++allowed)
        {
            SCOPED_TRACE (testing::Message() << (failures < 0 ? "from " : "only ") << allowed << " of " << needed);
            const auto convolver = whileFailing (allowed, [&] { return std::make_unique<Convolver> (&source); }, failures);
            if (failures < 0)
            {
                EXPECT_EQ (convolver->reserved, allowed == needed);
            }
            const long before = heapAllocationCount();
            const Channels y = processInBlocks (*convolver, x, 512);
            EXPECT_EQ (heapAllocationCount(), before);
            const ImpulseBuffer& held = convolver->impulse;
            for (int c = 0; c < 2; ++c)
            {
                if (! convolver->reserved)
                {
                    EXPECT_EQ (y[c], Signal (1024, 0.0f));
                    continue;
                }
                const float* h = held.channel (std::min (c, held.numChannels - 1));
                Signal heard (held.length(), 0.0f);
                for (int i = 0; i < convolver->engine.stageCount(); ++i)
                {
                    const ConvolutionStage& s = *convolver->engine.stage (i);
                    if (! s.failed)
                        std::copy (h + s.offsetInImpulse, h + s.offsetInImpulse + s.impulseLen, heard.begin() + s.offsetInImpulse);
                }
                convtest::expectConvolution (y[c], heard, x[c], everySample, c == 0 ? "left" : "right");
            }
        }
}

TEST (Convolver, ReverbLevelAt1kHzDoesNotDependOnTheRate)
{
    // A 1 kHz tone through a decaying-noise response: once the response is filled, the tone's
    // level must match at every processing rate (the response is scaled by its rate change).
    const Buffer response = decayingNoise (13230, 44100, 2, 21u);
    std::vector<double> reference;
    for (int rate : { 44100, 48000, 96000 })
    {
        SCOPED_TRACE (rate);
        Buffer source = response;
        Convolver convolver (&source);
        convolver.prepare (rate);
        const int frames = rate / 2; // 0.5 s; the response lasts 0.3 s
        Channels tone (2, Signal (frames));
        for (auto& channel : tone)
            for (int i = 0; i < frames; ++i)
                channel[i] = static_cast<float> (std::sin (twoPi * 1000.0 * i / rate));
        const auto y = processInBlocks (convolver, tone, 480);
        for (int ch = 0; ch < 2; ++ch)
        {
            // The last 0.1 s: exactly 100 periods.
            std::complex<double> sum;
            const int start = frames - rate / 10;
            for (int i = start; i < frames; ++i)
                sum += static_cast<double> (y[ch][i])
                       * std::polar (1.0, -twoPi * 1000.0 * i / rate);
            const double level = 20.0 * std::log10 (2.0 * std::abs (sum) / (rate / 10));
            if (rate == 44100)
                reference.push_back (level);
            else
                EXPECT_NEAR (level, reference[ch], 0.1) << ch;
        }
    }
}
