#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

// A block of audio that knows its own sample rate. Held by value; copy assignment copies the
// rate and then the samples (or just the clear flag when the source is known to be silent).
class Buffer
{
public:
    // Throws gsl::fail_fast unless sampleRate, numChannels and numFrames are all above 0,
    // tested in that order. The new buffer is silent.
    Buffer (int numChannels, int numFrames, int sampleRate);

    // Re-tags and re-shapes the buffer, leaving silence. A bad rate leaves the buffer as it was;
    // a bad shape leaves it with the new rate and its old shape and content.
    void reset (int numChannels, int numFrames, int sampleRate);

    // Re-shapes the buffer (no content kept) and leaves silence. A failure changes nothing.
    void setSize (int numChannels, int numFrames);

    // Multiplies every sample by gain; the buffer is never flagged clear afterwards.
    Buffer& applyGain (float gain);

    std::int32_t sampleRate;
    juce::AudioBuffer<float> audio;

private:
    static void checkRate (int rate);
};

// Copies numSamples samples of the first numChannels channels. Counts of 0 or less touch no
// pointer. A source channel may be its own destination.
void copyChannels (const float* const* source, float* const* destination, int numChannels, int numSamples);
