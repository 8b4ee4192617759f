#include "HeapBuffer.h"
#include "ResampleBuffer.h"
#include "Resampler.h"

#include "EmbeddedResponses.h"
#include "Failures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

using namespace ktotest;

namespace
{
constexpr double twoPi = 6.283185307179586476925;

Buffer sineBuffer (int frames, int rate, double freq, int channels = 1)
{
    Buffer b (channels, frames, rate);
    for (int c = 0; c < channels; ++c)
    {
        float* x = b.audio.getWritePointer (c);
        for (int i = 0; i < frames; ++i)
            x[i] = static_cast<float> (std::sin (twoPi * freq * i / rate));
    }
    return b;
}

// Largest deviation from the ideal sine at the new rate, leaving out the outputs whose window
// reaches past either end of the input.
double sineError (const Buffer& out, int oldRate, int oldFrames, double freq)
{
    const double step = static_cast<double> (oldRate) / out.sampleRate;
    const float* y = out.audio.getReadPointer (0);
    double worst = 0.0;
    for (int j = 0; j < out.audio.getNumSamples(); ++j)
    {
        const double pos = j * step;
        if (pos < 40.0 || pos > oldFrames - 40.0)
            continue;
        worst = std::max (worst, std::abs (y[j] - std::sin (twoPi * freq * pos / oldRate)));
    }
    return worst;
}

double rmsAway (const Buffer& out, int margin)
{
    const float* y = out.audio.getReadPointer (0);
    double sum = 0.0;
    int n = 0;
    for (int j = margin; j < out.audio.getNumSamples() - margin; ++j, ++n)
        sum += static_cast<double> (y[j]) * y[j];
    return std::sqrt (sum / n);
}
} // namespace

TEST (Resampler, RatesAndChannelCounts)
{
    Resampler r;
    r.setRates (44100, 48000);
    EXPECT_DOUBLE_EQ (r.ratio, 0.91875);
    r.ratio = 2.0; // same rates again: nothing is recomputed
    r.setRates (44100, 48000);
    EXPECT_EQ (r.ratio, 2.0);
    r.setRates (0.5, 2);
    EXPECT_EQ (r.inRate, 1.0);
    EXPECT_EQ (r.ratio, 0.5);
    r.setRates (std::nan (""), 1.0 / 0.0);
    EXPECT_EQ (r.ratio, 1.0);

    float* pointer = &r.lowpassFreq;
    EXPECT_EQ (r.prepare (100, 0, &pointer), 0);
    EXPECT_EQ (r.prepare (100, 65, &pointer), 0);
    EXPECT_EQ (pointer, &r.lowpassFreq);

    // The room serves one resampleOut: a second one without prepare takes no frames.
    Resampler s;
    s.setMode (false, 0, true, 64, 32);
    s.setRates (44100, 44100);
    const int space = s.prepare (100, 1, &pointer);
    std::fill_n (pointer, space, 1.0f);
    std::vector<float> out (200);
    s.resampleOut (out.data(), space, 200, 1);
    const int held = s.held;
    EXPECT_EQ (s.resampleOut (out.data(), space, 200, 1), 0);
    EXPECT_EQ (s.held, held);
}

TEST (Resampler, SincTable)
{
    struct Case
    {
        double cutoff;
        double factor;
        double row16Centre; // 0 when not checked
    };
    const Case cases[] = { { 1.0, 1.0000002, 0.63573 }, { 1.0 / (1.03 * 1.378125), 0.70449, 0.0 } };
    for (const auto& c : cases)
    {
        Resampler r;
        r.setMode (false, 0, true, 64, 32);
        r.buildSincTable (c.cutoff);
        ASSERT_EQ (r.tableSincSize, 64);
        ASSERT_EQ (r.tablePhases, 32);
        ASSERT_EQ (r.table.size, 33 * 64 * 4);
        const float* t = reinterpret_cast<const float*> (r.table.data);
        const auto tap = [t] (int row, int k) { return t[row * 64 + k]; };

        // The exact 1.0 centres carry the normalisation factor.
        EXPECT_NEAR (tap (0, 32), c.factor, c.cutoff == 1.0 ? 1e-7 : 1e-5);
        EXPECT_EQ (tap (0, 32), tap (32, 31));
        if (c.row16Centre != 0.0)
        {
            EXPECT_NEAR (tap (16, 31), c.row16Centre, 1e-5);
            EXPECT_EQ (tap (16, 31), tap (16, 32));
        }
        // Row 32 is row 0 one tap earlier.
        for (int k = 0; k < 63; ++k)
            EXPECT_NEAR (tap (32, k), tap (0, k + 1), 1e-6) << k;
        for (int row = 0; row <= 32; ++row)
        {
            double sum = 0.0;
            for (int k = 0; k < 64; ++k)
                sum += tap (row, k);
            EXPECT_NEAR (sum, 1.0, 1e-6) << "row " << row;
        }

        // The table stands while nothing changes; a new cutoff rebuilds it.
        const float before = tap (5, 10);
        r.buildSincTable (c.cutoff);
        EXPECT_EQ (tap (5, 10), before);
        r.buildSincTable (0.5);
        EXPECT_NE (tap (5, 10), before);
    }
}

TEST (ResampleBuffer, SinesAndConstantsAtHostRates)
{
    struct Case
    {
        int rate;
        double max1k;
        double max10k; // the 22050 cutoff sits close to 10 kHz: there it is an attenuation bound
    };
    const Case cases[] = { { 48000, 1e-5, 3e-4 }, { 96000, 1e-5, 3e-4 }, { 32000, 1e-5, 3e-4 }, { 22050, 1e-5, 0.2 } };
    constexpr int frames = 8820;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.rate);
        const auto expectedFrames = static_cast<int> (frames * (c.rate / 44100.0));
        for (double freq : { 1000.0, 10000.0 })
        {
            const Buffer out = resampleBuffer (sineBuffer (frames, 44100, freq), c.rate);
            EXPECT_EQ (out.sampleRate, c.rate);
            EXPECT_EQ (out.audio.getNumSamples(), expectedFrames);
            EXPECT_EQ (out.audio.getNumChannels(), 1);
            EXPECT_LT (sineError (out, 44100, frames, freq), freq == 1000.0 ? c.max1k : c.max10k) << freq;
        }
        Buffer ones (2, frames, 44100);
        for (int ch = 0; ch < 2; ++ch)
            std::fill_n (ones.audio.getWritePointer (ch), frames, 1.0f);
        const Buffer out = resampleBuffer (ones, c.rate);
        ASSERT_EQ (out.audio.getNumChannels(), 2);
        const int margin = 40 * c.rate / 44100 + 1;
        for (int ch = 0; ch < 2; ++ch)
            for (int j = margin; j < expectedFrames - margin; ++j)
                ASSERT_NEAR (out.audio.getSample (ch, j), 1.0f, 2e-6) << ch << " " << j;
    }
}

TEST (ResampleBuffer, RejectsContentAboveNewNyquist)
{
    // 44100 to 32000: the new Nyquist frequency is 16 kHz; tones clear of the cutoff's
    // transition must not fold back into the passband.
    for (double freq : { 19000.0, 20000.0, 21000.0 })
    {
        const Buffer out = resampleBuffer (sineBuffer (8820, 44100, freq), 32000);
        EXPECT_LT (20.0 * std::log10 (rmsAway (out, 64) * std::sqrt (2.0)), -100.0) << freq;
    }
}

TEST (ResampleBuffer, LargeRatiosStayWithinTheirRoom)
{
    // Far below 1/36 of the old rate the channel no longer fits one round's room.
    struct Case
    {
        int oldRate, newRate, frames;
        double freq;
    };
    const Case cases[] = { { 44100, 1000, 44100, 50.0 }, { 44100, 1000, longestResponseFrames, 50.0 }, { 96000, 500, 96000, 20.0 },
                           { 44100, 100, 44540, 5.0 } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.newRate);
        const Buffer out = resampleBuffer (sineBuffer (c.frames, c.oldRate, c.freq, 2), c.newRate);
        const auto expected = static_cast<int> (c.frames * (static_cast<double> (c.newRate) / c.oldRate));
        ASSERT_EQ (out.audio.getNumSamples(), expected);
        // The 64 taps span little of such a slow sinc: its passband already droops a little.
        EXPECT_LT (sineError (out, c.oldRate, c.frames, c.freq), 3e-3);
        // The last frames still see the end of the input.
        EXPECT_NE (out.audio.getSample (1, expected - 5), 0.0f);
    }
}

TEST (Resampler, RoundsContinueOneSignal)
{
    // Feeding in small rounds gives what one round gives, also when the store cannot grow past
    // its first 1000 frames (then the end of the signal cannot be padded and its last outputs
    // are missing).
    const Buffer in = sineBuffer (5000, 44100, 3000.0, 2);
    for (int rate : { 48000, 32000 })
    {
        const Buffer whole = resampleBuffer (in, rate);
        const int frames = whole.audio.getNumSamples();
        for (bool constrained : { false, true })
        {
            SCOPED_TRACE (rate + constrained);
            Resampler r;
            r.setMode (false, 0, true, 64, 32);
            r.setRates (44100, rate);
            if (constrained)
                r.buildSincTable (rate > 44100 ? 1.0 : 1.0 / (1.03 * 44100.0 / rate));
            std::vector<float> interleaved;
            const FailureSwitch failing (constrained ? 1 : -1);
            int fed = 0;
            bool ended = false;
            for (int round = 0; ! ended && round < 10000; ++round)
            {
                int wantOut = 1 + (round * 37) % 101;
                float* room = nullptr;
                int space = r.prepare (wantOut, 2, &room);
                if (space > 5000 - fed)
                {
                    // Less than the room ends the signal: ask for all that is left first.
                    wantOut = 10000;
                    space = r.prepare (wantOut, 2, &room);
                }
                const int n = std::min (space, 5000 - fed);
                for (int i = 0; i < n; ++i)
                    for (int ch = 0; ch < 2; ++ch)
                        room[i * 2 + ch] = in.audio.getSample (ch, fed + i);
                fed += n;
                ended = n < space;
                std::vector<float> out (wantOut * 2);
                const int got = r.resampleOut (out.data(), n, wantOut, 2);
                interleaved.insert (interleaved.end(), out.begin(), out.begin() + got * 2);
            }
            EXPECT_LE (r.input.size, constrained ? 4000 : 1 << 30);
            const int produced = std::min (static_cast<int> (interleaved.size()) / 2, frames);
            ASSERT_GE (produced, constrained ? frames - 100 : frames);
            for (int j = 0; j < produced; ++j)
                for (int ch = 0; ch < 2; ++ch)
                    ASSERT_NEAR (interleaved[j * 2 + ch], whole.audio.getSample (ch, j), 1e-5)
                        << j;
        }
    }
}

TEST (ResampleBuffer, EdgeCases)
{
    // One frame stays one frame: a copy that keeps its rate.
    Buffer single (1, 1, 44100);
    single.audio.setSample (0, 0, 0.25f);
    const Buffer copy = resampleBuffer (single, 48000);
    EXPECT_EQ (copy.sampleRate, 44100);
    EXPECT_EQ (copy.audio.getSample (0, 0), 0.25f);

    // Upsampling puts frame 0 exactly on the centre tap of the last row.
    Buffer thousand = sineBuffer (1000, 44100, 1000.0);
    thousand.audio.setSample (0, 0, 0.5f);
    const Buffer up = resampleBuffer (thousand, 48000);
    EXPECT_EQ (up.audio.getNumSamples(), 1088);
    EXPECT_NEAR (up.audio.getSample (0, 0), 0.5 * 1.0000002, 1e-7);

    // Equal rates in the sinc mode give each frame back, scaled by the normalisation factor.
    Resampler r;
    r.setMode (false, 0, true, 64, 32);
    r.setRates (44100, 44100);
    float* room = nullptr;
    const int space = r.prepare (500, 1, &room);
    ASSERT_GE (space, 500);
    for (int i = 0; i < 500; ++i)
        room[i] = thousand.audio.getSample (0, i);
    std::vector<float> out (500);
    EXPECT_EQ (r.resampleOut (out.data(), 500, 500, 1), 500);
    for (int i = 0; i < 500; ++i)
        ASSERT_NEAR (out[i], thousand.audio.getSample (0, i) * 1.0000002, 2e-7) << i;

    EXPECT_EQ (failureMessage ([&] { resampleBuffer (thousand, 0); }), bufferPrecondition (52));
    EXPECT_EQ (failureMessage ([&] { resampleBuffer (single, 22050); }), bufferPrecondition (44));
    const Buffer longer (1, 100000, 44100);
    EXPECT_NE (failureMessage ([&] { resampleBuffer (longer, 2147483647); }), "no failure");
}

TEST (Resampler, LinearAndNearestModes)
{
    // Without the sinc table: a ramp read at half steps.
    for (bool linear : { true, false })
    {
        Resampler r;
        r.setMode (linear, 0, false, 0, 0);
        r.setRates (22050, 44100);
        float* room = nullptr;
        const int space = r.prepare (40, 1, &room);
        ASSERT_GE (space, 24);
        for (int i = 0; i < space; ++i)
            room[i] = static_cast<float> (i);
        std::vector<float> out (40);
        ASSERT_EQ (r.resampleOut (out.data(), space, 40, 1), 40);
        for (int j = 0; j < 40; ++j)
            EXPECT_EQ (out[j], linear ? static_cast<float> (j) * 0.5f : static_cast<float> (j / 2)) << j;
    }

    // Lowpass sections ahead of downsampling leave a constant as it is once they settle.
    Resampler r;
    r.setMode (true, 2, false, 0, 0);
    r.setRates (48000, 16000);
    float* room = nullptr;
    const int space = r.prepare (1000, 3, &room);
    ASSERT_GE (space, 3000);
    std::fill_n (room, space * 3, 1.0f);
    std::vector<float> out (3000);
    ASSERT_EQ (r.resampleOut (out.data(), space, 1000, 3), 1000);
    EXPECT_NEAR (out[2997], 1.0f, 1e-5);
    EXPECT_LT (out[0], 0.5f);
}

TEST (ResampleBuffer, AllocationFailuresLeaveSilenceOrTheConversion)
{
    // With the n-th container allocation and all later ones failing, a channel comes out either
    // silent (no history store or no sinc table) or converted; nothing is written out of bounds.
    const Buffer in = sineBuffer (20000, 44100, 1000.0, 2);
    const Buffer whole = resampleBuffer (in, 48000);
    int converted = 0;
    for (long allowed = 0; allowed <= 6; ++allowed)
    {
        SCOPED_TRACE (allowed);
        const Buffer out = whileFailing (allowed, [&] { return resampleBuffer (in, 48000); });
        ASSERT_EQ (out.audio.getNumSamples(), whole.audio.getNumSamples());
        for (int ch = 0; ch < 2; ++ch)
        {
            const float* y = out.audio.getReadPointer (ch);
            if (std::all_of (y, y + out.audio.getNumSamples(), [] (float v) { return v == 0.0f; }))
                continue;
            ++converted;
            for (int j = 0; j < out.audio.getNumSamples(); ++j)
                ASSERT_NEAR (y[j], whole.audio.getSample (ch, j), 1e-5) << ch << " " << j;
        }
    }
    EXPECT_GE (converted, 8);
}
