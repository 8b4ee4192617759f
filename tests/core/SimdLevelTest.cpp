// A render must not depend on the CPU it ran on: the engine and the transform give the same bytes
// at every vector level this machine has, and the same bytes as they gave before the vector layer.

#include "Convolver.h"
#include "Fft.h"
#include "Resources.h"
#include "SimdLevel.h"

#include "Signals.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
Buffer firstImpulse()
{
    const auto& entry = kto::resources::table[0];
    juce::FlacAudioFormat flac;
    std::unique_ptr<juce::AudioFormatReader> reader (
        flac.createReaderFor (new juce::MemoryInputStream (entry.data, entry.size, false), true));
    Buffer b (2, static_cast<int> (reader->lengthInSamples), 44100);
    reader->read (&b.audio, 0, b.audio.getNumSamples(), 0, true, true);
    return b;
}

std::uint64_t fnv (const std::vector<float>& values, std::uint64_t hash = 14695981039346656037ull)
{
    const auto* bytes = reinterpret_cast<const unsigned char*> (values.data());
    for (size_t i = 0; i < values.size() * sizeof (float); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// Every transform size forward and back, on noise; FNV-1a over the results.
std::uint64_t fftChecksum()
{
    std::uint64_t hash = 14695981039346656037ull;
    for (int n = 2; n <= 32768; n *= 2)
        for (const int inverse : { 0, 1 })
        {
            auto data = ktotest::noise (2 * n, static_cast<std::uint32_t> (n + inverse));
            fftTransform (data.data(), n, inverse);
            hash = fnv (data, hash);
        }
    return hash;
}

// 20 s of stereo noise through the convolver in blocks; FNV-1a over the output bytes.
std::uint64_t renderChecksum (Buffer& impulse, int block)
{
    constexpr int frames = 20 * 44100;
    std::vector<float> signal = ktotest::noise (2 * frames, 1, 0.5);
    Convolver convolver (&impulse);
    convolver.prepare (44100.0);
    for (int start = 0; start < frames; start += block)
    {
        float* channels[2] = { signal.data() + start, signal.data() + frames + start };
        convolver.process (channels, 2, std::min (block, frames - start));
    }
    return fnv (signal);
}
} // namespace

TEST (SimdLevel, EveryLevelRendersTheSameBytes)
{
    // Mono decaying noise that, unlike the first embedded response, also sounds in the direct-form head.
    Buffer embedded = firstImpulse(), mono = ktotest::decayingNoise (60000, 44100, 1, 7, 1.0);
    const SimdLevel best = simdLevel();
    struct Case
    {
        Buffer* impulse;
        int block;
        std::uint64_t before; // the engine's output before it had vector levels
    };
    for (const Case c : { Case { &embedded, 64, 0xe2d974e8723ace84ull }, Case { &embedded, 37, 0xe2d974e8723ace84ull },
                          Case { &mono, 64, 0x3cb40e15d2b260aaull }, Case { &mono, 37, 0x2ce178711bae3ceaull } })
        for (const SimdLevel level : { SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512 })
        {
            if (! simdUseLevel (level))
                continue;
            SCOPED_TRACE (testing::Message() << (c.impulse == &mono ? "mono noise" : "impulse 1") << ", block " << c.block
                                             << ", level " << simdLevelName (level));
            EXPECT_EQ (renderChecksum (*c.impulse, c.block), c.before);
        }
    simdUseLevel (best);
}

TEST (SimdLevel, EveryLevelTransformsToTheSameBytes)
{
    // All fifteen sizes, as the transform gave them before it had vector levels.
    const SimdLevel best = simdLevel();
    for (const SimdLevel level : { SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512 })
    {
        if (simdUseLevel (level))
        {
            EXPECT_EQ (fftChecksum(), 0x8bcc7dfdf7db5b8dull) << simdLevelName (level);
        }
    }
    simdUseLevel (best);
}
