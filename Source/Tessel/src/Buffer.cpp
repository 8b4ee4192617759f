#include "Buffer.h"

#include "gsl_throw.h"

#include <cstring>

// Failures are told apart by the line in their message: keep the checks on lines 43, 44, 52.

Buffer::Buffer (int numChannels, int numFrames, int sampleRate_) : sampleRate (0)
{
    reset (numChannels, numFrames, sampleRate_);
}

void Buffer::reset (int numChannels, int numFrames, int sampleRate_)
{
    checkRate (sampleRate_);
    sampleRate = sampleRate_;
    setSize (numChannels, numFrames);
}

Buffer& Buffer::applyGain (float gain)
{
    const int numFrames = audio.getNumSamples();
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        float* samples = audio.getWritePointer (c); // resets the clear flag
        for (int i = 0; i < numFrames; ++i)
            samples[i] *= gain;
    }
    return *this;
}

void copyChannels (const float* const* source, float* const* destination, int numChannels, int numSamples)
{
    if (numChannels <= 0 || numSamples <= 0)
        return;
    for (int c = 0; c < numChannels; ++c)
        std::memmove (destination[c], source[c], sizeof (float) * static_cast<size_t> (numSamples));
}

void Buffer::setSize (int numChannels, int numFrames)
{
    KTO_EXPECTS (numChannels > 0);
    KTO_EXPECTS (numFrames > 0);
    audio.setSize (numChannels, numFrames, false, false, false);
    audio.clear(); // zeroes only what is not already flagged clear, then sets the flag
}

void Buffer::checkRate (int rate)
{
    // Tested before anything else, so a bad rate leaves the buffer untouched.
    KTO_EXPECTS (rate > 0);
}
