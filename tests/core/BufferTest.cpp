#include "Buffer.h"

#include "Failures.h"

#include <gtest/gtest.h>

#include <string>

using namespace ktotest;

namespace
{
void fill (Buffer& b, float base)
{
    for (int c = 0; c < b.audio.getNumChannels(); ++c)
        for (int i = 0; i < b.audio.getNumSamples(); ++i)
            b.audio.getWritePointer (c)[i] = base + float (c * 1000 + i);
}
} // namespace

TEST (Buffer, PreconditionsAreTestedInOrderAndNamed)
{
    struct Case
    {
        int channels, frames, rate, line;
    };
    const Case cases[] = {
        { 0, 0, 0, 52 },  // the rate comes first
        { 2, 10, -1, 52 },
        { 0, 0, 44100, 43 },
        { 2, 0, 44100, 44 },
        { -3, 5, 48000, 43 },
    };
    for (const auto& c : cases)
        EXPECT_EQ (failureMessage ([&] { Buffer b (c.channels, c.frames, c.rate); }), bufferPrecondition (c.line))
            << c.channels << " x " << c.frames << " @ " << c.rate;
}

TEST (Buffer, FailedResetKeepsWhatItMust)
{
    Buffer b (2, 8, 44100);
    fill (b, 1.0f);

    // A bad rate changes nothing.
    EXPECT_EQ (failureMessage ([&] { b.reset (1, 4, 0); }), bufferPrecondition (52));
    EXPECT_EQ (b.sampleRate, 44100);
    EXPECT_EQ (b.audio.getNumChannels(), 2);
    EXPECT_EQ (b.audio.getSample (1, 7), 1.0f + 1007.0f);

    // A bad shape keeps the new rate but the old shape and samples.
    EXPECT_EQ (failureMessage ([&] { b.reset (0, 10, 48000); }), bufferPrecondition (43));
    EXPECT_EQ (b.sampleRate, 48000);
    EXPECT_EQ (b.audio.getNumSamples(), 8);
    EXPECT_EQ (b.audio.getSample (0, 3), 4.0f);

    EXPECT_EQ (failureMessage ([&] { b.setSize (1, 0); }), bufferPrecondition (44));
    EXPECT_EQ (b.audio.getSample (1, 0), 1001.0f);
}

TEST (Buffer, ShapingLeavesSilenceAndGainClearsTheFlag)
{
    Buffer one (1, 1, 44100);
    EXPECT_EQ (one.sampleRate, 44100);
    EXPECT_EQ (one.audio.getNumChannels(), 1);
    EXPECT_EQ (one.audio.getNumSamples(), 1);
    EXPECT_EQ (one.audio.getSample (0, 0), 0.0f);

    Buffer b (2, 16, 44100);
    fill (b, 0.5f);
    b.setSize (2, 16); // the same shape still leaves silence
    EXPECT_TRUE (b.audio.hasBeenCleared());
    EXPECT_EQ (b.audio.getMagnitude (0, 16), 0.0f);

    b.applyGain (1.0f);
    EXPECT_FALSE (b.audio.hasBeenCleared());
    EXPECT_EQ (b.audio.getMagnitude (0, 16), 0.0f);

    fill (b, 2.0f);
    b.applyGain (-0.5f);
    EXPECT_EQ (b.audio.getSample (1, 3), -0.5f * (2.0f + 1003.0f));
}

TEST (Buffer, CopyAssignmentTakesRateShapeAndContent)
{
    Buffer source (2, 5, 96000);
    fill (source, 3.0f);

    Buffer dest (1, 100, 44100);
    fill (dest, 9.0f);
    dest = source;
    EXPECT_EQ (dest.sampleRate, 96000);
    EXPECT_EQ (dest.audio.getNumChannels(), 2);
    EXPECT_EQ (dest.audio.getNumSamples(), 5);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ (dest.audio.getSample (c, i), source.audio.getSample (c, i));

    // A source flagged clear gives silence, whatever the destination held.
    Buffer silent (2, 5, 22050);
    fill (dest, 7.0f);
    dest = silent;
    EXPECT_EQ (dest.sampleRate, 22050);
    EXPECT_EQ (dest.audio.getMagnitude (0, 5), 0.0f);
}

TEST (Buffer, CopyChannels)
{
    copyChannels (nullptr, nullptr, 0, 10);
    copyChannels (nullptr, nullptr, 2, 0);

    float a[3] = { 1, 2, 3 }, b[3] = { 4, 5, 6 }, x[3] = {}, y[3] = {};
    const float* src[] = { a, b };
    float* dst[] = { x, y };
    copyChannels (src, dst, 2, 2);
    EXPECT_EQ (x[0], 1.0f);
    EXPECT_EQ (x[1], 2.0f);
    EXPECT_EQ (x[2], 0.0f);
    EXPECT_EQ (y[1], 5.0f);

    float* self[] = { a };
    copyChannels (src, self, 1, 3); // a channel onto itself stays as it is
    EXPECT_EQ (a[2], 3.0f);
}
