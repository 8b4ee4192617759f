#pragma once

// The tests' signals. All noise comes from one linear congruential sequence: the same bits with
// every compiler and standard library, so that checksums of renders stay put.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

class Buffer; // Source/Tessel/src/Buffer.h: only the users of decayingNoise need it

namespace ktotest
{
using Signal = std::vector<float>;
using Channels = std::vector<Signal>;

struct Lcg
{
    std::uint32_t state;

    // The next 24 bits of the sequence.
    std::uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    // Uniform in [-1, 1) in steps of 2^-23, so every value is exact as a float.
    double uniform() { return static_cast<double> (next()) / 8388608.0 - 1.0; }
};

// frames samples of gain x noise, falling by a factor e^decays over the frames (0: flat).
inline void fillNoise (float* out, long frames, Lcg& source, double gain = 1.0, double decays = 0.0)
{
    for (long i = 0; i < frames; ++i)
        out[i] = static_cast<float> (gain * source.uniform() * std::exp (-decays * static_cast<double> (i) / static_cast<double> (frames)));
}

// Every channel of a juce::AudioBuffer in turn, the sequence running on from one into the next.
template <typename AudioBuffer>
void fillNoise (AudioBuffer& buffer, Lcg& source, double gain = 1.0, double decays = 0.0)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        fillNoise (buffer.getWritePointer (c), buffer.getNumSamples(), source, gain, decays);
}

template <typename AudioBuffer>
void fillNoise (AudioBuffer& buffer, std::uint32_t seed, double gain = 1.0, double decays = 0.0)
{
    Lcg source { seed };
    fillNoise (buffer, source, gain, decays);
}

inline Signal noise (long frames, std::uint32_t seed, double gain = 1.0, double decays = 0.0)
{
    Signal s (static_cast<std::size_t> (frames));
    Lcg source { seed };
    fillNoise (s.data(), frames, source, gain, decays);
    return s;
}

inline Channels noiseChannels (int channels, int frames, std::uint32_t seed, double gain = 1.0)
{
    Channels c (static_cast<std::size_t> (channels), Signal (static_cast<std::size_t> (frames)));
    Lcg source { seed };
    for (auto& channel : c)
        fillNoise (channel.data(), frames, source, gain);
    return c;
}

// A response-like Buffer: by default half-scale noise that falls by e^4 (35 dB) over its length.
template <typename B = Buffer>
B decayingNoise (int frames, int rate, int channels, std::uint32_t seed, double gain = 0.5, double decays = 4.0)
{
    B b (channels, frames, rate);
    fillNoise (b.audio, seed, gain, decays);
    return b;
}

// Runs the channels in place through processor.process (pointers, channels, frames), block by block.
template <typename Processor>
Channels processInBlocks (Processor& processor, Channels signal, int block)
{
    const int frames = static_cast<int> (signal[0].size());
    for (int start = 0; start < frames; start += block)
    {
        std::vector<float*> pointers;
        for (auto& channel : signal)
            pointers.push_back (channel.data() + start);
        processor.process (pointers.data(), static_cast<int> (pointers.size()), std::min (block, frames - start));
    }
    return signal;
}
} // namespace ktotest
