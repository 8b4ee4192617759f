// The embedded assets as the plug-in reads them: the six FLAC impulse responses, the PNG
// headers of the three pictures and the font.

#include "Resources.h"

#include "EmbeddedResponses.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace
{
namespace res = kto::resources;

std::uint32_t bigEndian (const unsigned char* p, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

std::uint32_t littleEndian32 (const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t> (p[3]) << 24);
}

struct Decoded
{
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::AudioBuffer<float> audio;
};

Decoded decode (const res::Entry& e)
{
    Decoded d;
    juce::FlacAudioFormat flac;
    d.reader.reset (flac.createReaderFor (new juce::MemoryInputStream (e.data, e.size, false), true));
    if (d.reader != nullptr)
    {
        d.audio.setSize (static_cast<int> (d.reader->numChannels), static_cast<int> (d.reader->lengthInSamples));
        d.reader->read (&d.audio, 0, d.audio.getNumSamples(), 0, true, true);
    }
    return d;
}

double energy (const float* x, int from, int to)
{
    double e = 0.0;
    for (int i = from; i < to; ++i)
        e += static_cast<double> (x[i]) * x[i];
    return e;
}

// How far a stretch's highs (second difference) and lows (32-sample average) fall, in dB, from
// one window to a later one.
struct BandDrops
{
    double high, low;
};

BandDrops bandDrops (const float* x, int early, int late, int length)
{
    const auto levels = [x, length] (int from)
    {
        double high = 0.0, low = 0.0;
        for (int i = from; i < from + length; ++i)
        {
            const double d2 = static_cast<double> (x[i]) - 2.0 * x[i - 1] + x[i - 2];
            double avg = 0.0;
            for (int k = 0; k < 32; ++k)
                avg += x[i - k];
            high += d2 * d2;
            low += (avg / 32.0) * (avg / 32.0);
        }
        return std::make_pair (high, low);
    };
    const auto [h0, l0] = levels (early);
    const auto [h1, l1] = levels (late);
    return { 10.0 * std::log10 (h0 / h1), 10.0 * std::log10 (l0 / l1) };
}

// Reverberation time from the backward-integrated energy, fitted between -5 and -25 dB.
double rt60 (const float* x, int n, double rate)
{
    std::vector<double> tailEnergy (n + 1, 0.0);
    for (int i = n - 1; i >= 0; --i)
        tailEnergy[i] = tailEnergy[i + 1] + static_cast<double> (x[i]) * x[i];
    const auto firstBelow = [&] (double db)
    {
        int i = 0;
        while (i < n && 10.0 * std::log10 (tailEnergy[i] / tailEnergy[0]) > db)
            ++i;
        return i;
    };
    return 3.0 * (firstBelow (-25.0) - firstBelow (-5.0)) / rate;
}

struct ImpulseCase
{
    int type;
    double minRt60, maxRt60;
};

const ImpulseCase impulseCases[] = {
    { 1, 2.0, 5.0 }, { 2, 2.0, 5.5 }, { 3, 2.0, 5.0 }, { 4, 1.5, 4.0 }, { 5, 2.0, 5.0 }, { 6, 0.3, 1.6 },
};
} // namespace

TEST (Resources, EveryEntryHoldsBytes)
{
    for (int i = 0; i < res::numEntries; ++i)
    {
        EXPECT_NE (res::table[i].data, nullptr) << i;
        EXPECT_GT (res::table[i].size, 1000) << i;
    }
}

// STREAMINFO then an empty comment block, then the first frame; stream facts as the loader expects.
TEST (Resources, ImpulseStreamsHaveTheirLayout)
{
    for (const auto& c : impulseCases)
    {
        SCOPED_TRACE ("type " + std::to_string (c.type));
        const auto& e = res::table[res::impulseType1 + c.type - 1];
        const unsigned char* p = e.data;
        ASSERT_EQ (std::string (reinterpret_cast<const char*> (p), 4), "fLaC");

        // block 0: STREAMINFO, not last, 34 bytes
        EXPECT_EQ (p[4], 0x00);
        EXPECT_EQ (bigEndian (p + 5, 3), 34u);
        const unsigned char* si = p + 8;
        EXPECT_EQ (bigEndian (si, 2), 4096u);             // min block size
        EXPECT_EQ (bigEndian (si + 2, 2), 4096u);         // max block size
        const std::uint64_t packed = (static_cast<std::uint64_t> (bigEndian (si + 10, 4)) << 32) | bigEndian (si + 14, 4);
        EXPECT_EQ (packed >> 44, 44100u);                 // sample rate
        EXPECT_EQ (((packed >> 41) & 7u) + 1, 2u);        // channels
        EXPECT_EQ (((packed >> 36) & 31u) + 1, 24u);      // bits per sample
        EXPECT_EQ (static_cast<std::int64_t> (packed & 0xfffffffffULL), ktotest::framesOfType (c.type));

        // block 1: VORBIS_COMMENT, last, vendor string and no comments
        const unsigned char* vc = si + 34;
        EXPECT_EQ (vc[0], 0x80 | 4);
        const auto length = bigEndian (vc + 1, 3);
        const auto vendorLength = littleEndian32 (vc + 4);
        ASSERT_EQ (length, 4 + vendorLength + 4);
        EXPECT_EQ (littleEndian32 (vc + 8 + vendorLength), 0u);

        // audio follows at once: a frame header of a fixed-block-size stream
        const unsigned char* frame = vc + 4 + length;
        EXPECT_EQ (frame[0], 0xff);
        EXPECT_EQ (frame[1], 0xf8);
    }
}

// Each response decodes to a plausible room: quiet enough, no DC, decorrelated channels,
// highs dying first, a decay time of its own and a tail that has died away at the end.
TEST (Resources, ImpulseResponsesSoundLikeRooms)
{
    std::vector<double> decayTimes;
    for (const auto& c : impulseCases)
    {
        SCOPED_TRACE ("type " + std::to_string (c.type));
        const auto d = decode (res::table[res::impulseType1 + c.type - 1]);
        ASSERT_NE (d.reader, nullptr);
        EXPECT_EQ (d.reader->numChannels, 2u);
        EXPECT_EQ (d.reader->bitsPerSample, 24u);
        EXPECT_EQ (d.reader->sampleRate, 44100.0);
        ASSERT_EQ (d.reader->lengthInSamples, ktotest::framesOfType (c.type));

        const int n = d.audio.getNumSamples();
        const float* l = d.audio.getReadPointer (0);
        const float* r = d.audio.getReadPointer (1);
        double cross = 0.0;
        for (int i = 0; i < n; ++i)
            cross += static_cast<double> (l[i]) * r[i];
        EXPECT_LT (std::abs (cross) / std::sqrt (energy (l, 0, n) * energy (r, 0, n)), 0.2);

        for (const float* x : { l, r })
        {
            EXPECT_LT (d.audio.getMagnitude (0, n), 0.5f); // below -6 dBFS
            double sum = 0.0;
            for (int i = 0; i < n; ++i)
                sum += x[i];
            EXPECT_LT (std::abs (sum), 0.01) << "gain at DC";
            const double norm = std::sqrt (energy (x, 0, n));
            EXPECT_GT (norm, 0.3);
            EXPECT_LT (norm, 1.5);

            EXPECT_LT (juce::FloatVectorOperations::findMaximum (x + n - 4096, 4096), 3.2e-5f); // -90 dBFS
            EXPECT_GT (juce::FloatVectorOperations::findMinimum (x + n - 4096, 4096), -3.2e-5f);
            EXPECT_EQ (x[n - 1], 0.0f);

            const auto drops = bandDrops (x, 11025, 37485, 8820); // 0.25 s against 0.85 s
            EXPECT_GT (drops.high, drops.low + 3.0);
        }
        decayTimes.push_back (rt60 (l, n, 44100.0));
        EXPECT_GT (decayTimes.back(), c.minRt60);
        EXPECT_LT (decayTimes.back(), c.maxRt60);
    }
    for (size_t i = 0; i < decayTimes.size(); ++i)
        for (size_t j = i + 1; j < decayTimes.size(); ++j)
            EXPECT_GT (std::abs (decayTimes[i] - decayTimes[j]), 0.02) << "types " << i + 1 << " and " << j + 1;
}

TEST (Resources, PicturesArePngOfTheirSizeWithAlpha)
{
    struct Picture
    {
        int entry;
        std::uint32_t width, height;
    };
    for (const auto& pic : { Picture { res::knobPointer, 400, 400 }, Picture { res::knobBody, 400, 400 },
                             Picture { res::background, 1100, 1003 } })
    {
        SCOPED_TRACE (pic.entry);
        const unsigned char* p = res::table[pic.entry].data;
        ASSERT_EQ (std::string (reinterpret_cast<const char*> (p), 8), "\x89PNG\r\n\x1a\n");
        ASSERT_EQ (std::string (reinterpret_cast<const char*> (p + 12), 4), "IHDR");
        EXPECT_EQ (bigEndian (p + 16, 4), pic.width);
        EXPECT_EQ (bigEndian (p + 20, 4), pic.height);
        EXPECT_EQ (p[24], 8);  // bits per channel
        EXPECT_EQ (p[25], 6);  // RGBA
    }
}

TEST (Resources, FontIsDebiansOpenSansRegular)
{
    std::ifstream in (KTO_FONT_FILE, std::ios::binary);
    ASSERT_TRUE (in.good());
    const std::vector<unsigned char> file ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    const auto& e = res::table[res::font];
    ASSERT_EQ (static_cast<size_t> (e.size), file.size());
    EXPECT_TRUE (std::equal (file.begin(), file.end(), e.data));
}
