#include "ConvolutionStage.h"
#include "ConvolutionTestSupport.h"
#include "Kernels.h"
#include "Owned.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace convtest;
using ktotest::Owned;

TEST (ConvolutionStage, FftSizeIsChosenOrHeldWithinSupportedSizes)
{
    struct Case
    {
        int argument, segment, fftSize, parts;
    };
    const std::vector<Case> cases {
        { 256, 1000, 256, 8 },   { 0, 100, 256, 1 },        { 0, 100000, 32768, 7 }, { 0, 0, 32, 0 },
        { -20, 100000, 64, 3125 }, { -100000, 100000, 32768, 7 }, { 65536, 1000, 32768, 1 }, { 2, 10, 4, 5 },
        { 1000, 1000, 512, 4 },  { 1, 3, 4, 2 },
    };
    for (const auto& test : cases)
    {
        SCOPED_TRACE (testing::Message() << "argument " << test.argument << ", segment " << test.segment);
        const Signal h = noise (test.segment, 3);
        const auto buffer = impulseOf ({ h });
        ConvolutionStage stage;
        EXPECT_EQ (stage.setImpulse (&buffer, test.argument, 0, 0, false), test.fftSize / 2);
        EXPECT_EQ (stage.fftSize, test.fftSize);
        EXPECT_EQ (stage.nParts(), test.parts);

        // Whatever size was settled on, the stage convolves (for segments short enough to check).
        if (test.segment > 0 && test.segment <= 1000)
        {
            const long length = 3 * test.segment + 2 * test.fftSize;
            const Signal x = noise (length, 4);
            const float* in[1] = { x.data() };
            stage.add (in, static_cast<int> (length), 1);
            const int ready = stage.avail (static_cast<int> (length));
            ASSERT_GT (ready, 0);
            std::vector<long> positions;
            for (long n = 0; n < ready; ++n)
                positions.push_back (n);
            expectConvolution (Signal (stage.output[0].readPointer(), stage.output[0].readPointer() + ready), h, x, positions, "stage");
        }
    }
}

TEST (ConvolutionStage, PartitionsFlagsAndIdenticalChannels)
{
    Signal left (300, 0.0f), right (300, 0.0f);
    left[10] = 1.0f;      // partition 0 (of 64): channel 0 sounds
    right[70] = 0.001f;   // partition 1: only channel 1
    left[140] = 3e-15f;   // partition 2: flag 2 although the scaled value is flushed
    const auto buffer = impulseOf ({ left, right });
    ConvolutionStage stage;
    EXPECT_EQ (stage.setImpulse (&buffer, 128, 0, 0, false), 64);
    EXPECT_EQ (stage.impulseChannels, 2);
    ASSERT_EQ (stage.nParts(), 5);
    const auto* flags = static_cast<const unsigned char*> (stage.impulseFlags[0].data);
    EXPECT_EQ (flags[0], 2);
    EXPECT_EQ (flags[1], 1);
    EXPECT_EQ (flags[2], 2);
    EXPECT_EQ (flags[3], 0);

    const auto same = impulseOf ({ left, left });
    ConvolutionStage mono;
    mono.setImpulse (&same, 128, 0, 0, false);
    EXPECT_EQ (mono.impulseChannels, 1);

    // Direct form: taps reversed, offset and maximum length applied.
    const Signal abcd { 1, 2, 3, 4 };
    const auto taps = impulseOf ({ abcd });
    ConvolutionStage direct;
    EXPECT_EQ (direct.setImpulse (&taps, 0, 1, 2, true), 0);
    const float* view = direct.impulseSpectra[0].alignedView();
    EXPECT_EQ (view[0], 3.0f);
    EXPECT_EQ (view[1], 2.0f);
    EXPECT_EQ (direct.impulseSpectra[0].size, 2 * 4 + 60);
}

TEST (ConvolutionStage, HopsAreProcessedOnlyAsFarAsWanted)
{
    const Signal h = noise (1000, 5);
    const auto buffer = impulseOf ({ h });
    ConvolutionStage stage;
    stage.setImpulse (&buffer, 128, 0, 0, false);
    EXPECT_EQ (stage.avail (77), 77); // nothing added yet
    const Signal x = noise (300, 6);
    const float* in[1] = { x.data() };
    stage.add (in, 100, 1);
    EXPECT_EQ (stage.avail (1000), 64);
    EXPECT_EQ (stage.input[0].availableBytes, 36 * 4);
    stage.add (in, 200, 1);
    EXPECT_EQ (stage.avail (64), 64); // output already there: no hop
    EXPECT_EQ (stage.avail (65), 128);
    EXPECT_EQ (stage.avail (1000), 256);
}

TEST (ConvolutionStage, DirectFormMatchesConvolutionForShortAndLongFilters)
{
    for (const int taps : { 1, 3, 64, 513, 700 })
        for (const int block : { 1, 7, 64, 1500 })
        {
            SCOPED_TRACE (testing::Message() << taps << " taps, block " << block);
            const Signal h = noise (taps, 8);
            const auto buffer = impulseOf ({ h });
            ConvolutionStage stage;
            EXPECT_EQ (stage.setImpulse (&buffer, 0, 0, 0, true), 0);
            const long length = 4000;
            const Signal x = noise (length, 9);
            Signal out;
            for (long pos = 0; pos < length; pos += block)
            {
                const int n = static_cast<int> (std::min<long> (block, length - pos));
                const float* in[1] = { x.data() + pos };
                stage.add (in, n, 1);
                ASSERT_EQ (stage.avail (n), n);
                out.insert (out.end(), stage.output[0].readPointer(), stage.output[0].readPointer() + n);
                stage.output[0].consume (n);
            }
            std::vector<long> positions (length);
            for (long n = 0; n < length; ++n)
                positions[n] = n;
            expectConvolution (out, h, x, positions, "direct");
        }
}

TEST (ConvolutionStage, TinyAndNonFiniteInputIsFlushedToSilence)
{
    // A unit impulse passes each hop through; values below 2^-54, infinities and NaN are
    // flushed, and hops whose values all stay within 1e-12 count as silent (flag 0).
    Signal h (64, 0.0f);
    h[0] = 1.0f;
    const auto buffer = impulseOf ({ h });
    ConvolutionStage stage;
    stage.setImpulse (&buffer, 128, 0, 0, false);
    Signal left (64 * 4, 0.0f), right (64 * 4, 0.0f);
    for (int i = 0; i < 64; ++i)
    {
        left[i] = 1e-13f;        // hop 0: silent
        right[i] = -1e-13f;
        left[64 + i] = 1e-13f;   // hop 1: one loud sample
        left[128 + i] = i % 2 == 0 ? std::numeric_limits<float>::infinity() : std::nanf ("");
        right[192 + i] = 1e-17f; // below 2^-54
    }
    right[64 + 5] = 2e-12f;
    right[192] = 0.5f;
    const float* in[2] = { left.data(), right.data() };
    stage.add (in, 256, 2);
    ASSERT_EQ (stage.avail (256), 256);
    const auto* flags = static_cast<const unsigned char*> (stage.inputFlags[0].data);
    EXPECT_EQ (flags[0], 2); // ring of one slot: the last hop (loud) is the one left
    const float* l = stage.output[0].readPointer();
    const float* r = stage.output[1].readPointer();
    for (int i = 0; i < 64; ++i)
    {
        EXPECT_EQ (l[i], 0.0f) << i;
        EXPECT_EQ (r[i], 0.0f) << i;
        EXPECT_NEAR (l[64 + i], 1e-13f, 1e-18) << i;
        EXPECT_NEAR (l[128 + i], 0.0f, 1e-15) << i; // only the rounding left from hop 1
        EXPECT_NEAR (r[192 + i], i == 0 ? 0.5f : 0.0f, 1e-7) << i;
    }
    EXPECT_NEAR (r[64 + 5], 2e-12f, 1e-17);
}

TEST (ConvolutionStage, ChannelCountChangesRebuildTheRings)
{
    const Signal h = noise (1000, 10);
    const auto buffer = impulseOf ({ h });
    ConvolutionStage stage;
    stage.setImpulse (&buffer, 128, 0, 0, false);
    const Signal x = noise (200, 11);
    const float* in[2] = { x.data(), x.data() };
    stage.add (in, 104, 1);
    EXPECT_EQ (stage.avail (54), 64); // one hop: 40 samples stay queued
    stage.output[0].consume (54);     // 10 unread
    stage.add (in, 0, 2);             // a second channel joins
    EXPECT_EQ (stage.output[1].unread(), 50);
    EXPECT_EQ (stage.ringPos[0], 0);
    EXPECT_EQ (stage.ringPos[1], 0);
    const auto* flags = static_cast<const unsigned char*> (stage.inputFlags[0].data);
    for (int s = 0; s < stage.nParts(); ++s)
        EXPECT_EQ (flags[s], 0);

    stage.add (in, 0, 1); // and leaves again: its queue and output are dropped
    EXPECT_EQ (stage.output[1].unread(), 0);
    EXPECT_EQ (stage.input[1].availableBytes, 0);
    EXPECT_EQ (stage.output[0].unread(), 10);
    EXPECT_EQ (stage.input[0].availableBytes, 40 * 4);
}

TEST (ConvolutionStage, DirectFormOutputsNeverDependOnLaterInput)
{
    // A NaN or infinity reaches only the outputs at and after its own sample: with an odd tap
    // count no padding product may look one sample ahead.
    const long length = 600, bad = 300;
    for (const int taps : { 3, 63, 65 })
        for (const float value : { std::nanf (""), std::numeric_limits<float>::infinity() })
            for (const int block : { 64, 37 })
            {
                SCOPED_TRACE (testing::Message() << taps << " taps, value " << value << ", block " << block);
                const Signal h = noise (taps, 12);
                const auto buffer = impulseOf ({ h });
                ConvolutionStage stage;
                stage.setImpulse (&buffer, 0, 0, 0, true);
                Signal x = noise (length, 13);
                x[bad] = value;
                for (long pos = 0; pos < length; pos += block)
                {
                    const float* in[1] = { x.data() + pos };
                    stage.add (in, static_cast<int> (std::min<long> (block, length - pos)), 1);
                }
                ASSERT_EQ (stage.avail (0), length);
                const float* out = stage.output[0].readPointer();
                for (long n = 0; n < length; ++n)
                {
                    const bool reached = n >= bad && n < bad + taps;
                    ASSERT_EQ (std::isfinite (out[n]), ! reached) << "output " << n;
                    if (! reached)
                    {
                        ASSERT_NEAR (out[n], directAt (h, x, n), 1e-5) << "output " << n;
                    }
                }
            }
}

TEST (ConvolutionStage, EmptyImpulseChannelsPassTheInputThrough)
{
    // An empty channel has no block: taking a segment at an offset must not point into it.
    for (const bool direct : { false, true })
        for (const int channels : { 1, 2 })
            for (const int offset : { 0, 5, 1000 })
            {
                SCOPED_TRACE (testing::Message() << "direct " << direct << ", channels " << channels << ", offset " << offset);
                Owned<ImpulseBuffer> empty;
                empty.setNumChannels (channels);
                ConvolutionStage stage;
                stage.setImpulse (&empty, 128, offset, 0, direct);
                EXPECT_EQ (stage.impulseLen, 0);
                const Signal x = noise (100, 14);
                const float* in[2] = { x.data(), x.data() };
                stage.add (in, 100, channels);
                ASSERT_EQ (stage.avail (100), 100);
                for (int c = 0; c < channels; ++c)
                    EXPECT_EQ (Signal (stage.output[c].readPointer(), stage.output[c].readPointer() + 100), x);
            }
}

TEST (ConvolutionStage, DirectFormLeavesOutOnlyZeroTapsThatChangeNoBit)
{
    // Taps that lie reversed end in the segment's leading zeros. Left out, they must change no
    // output bit; a non-finite window value keeps them in (0 x NaN is NaN).
    for (const int taps : { 3, 64, 65, 600 })
        for (const int zeros : { 0, 1, 5, 40, 600 })
            for (const int samples : { 64, 37 })
                for (const bool nonFinite : { false, true })
                {
                    SCOPED_TRACE (testing::Message() << taps << " taps, " << zeros << " zeros, " << samples << " samples, non-finite " << nonFinite);
                    Signal h = noise (taps, 15);
                    const int sounding = std::max (taps - zeros, 0);
                    std::fill (h.begin() + sounding, h.end(), 0.0f);
                    Signal window = noise (taps + samples, 16);
                    if (nonFinite)
                        window[taps + samples / 2] = std::numeric_limits<float>::infinity();
                    Signal all (samples), skipped (samples);
                    vectorKernels().directForm (h.data(), taps, taps, window.data(), all.data(), samples);
                    vectorKernels().directForm (h.data(), taps, sounding, window.data(), skipped.data(), samples);
                    EXPECT_EQ (std::memcmp (all.data(), skipped.data(), all.size() * sizeof (float)), 0);
                }
}
