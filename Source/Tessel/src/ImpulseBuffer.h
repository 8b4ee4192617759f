#pragma once

#include "HeapBuffer.h"

#include <cstdint>

// The impulse response as the convolution engine reads it: one or two float channels of equal
// length. Channels at or above numChannels are empty. The owner calls release().
struct ImpulseBuffer
{
    double sampleRate = 44100.0;
    HeapBuffer channels[2];
    std::int32_t numChannels = 1;

    // Makes the impulse a copy of the given channels (a request for 0 channels copies the
    // first, one for three or more the first two).
    void set (const float* const* source, std::int32_t length, std::int32_t count);
    // Gives every channel below numChannels the length, zero-filling new samples. Returns the
    // length, or 0 after a failure, which empties both channels.
    std::int32_t setLength (std::int32_t length);
    // Channel count within 1..2; a new channel copies channel 0.
    void setNumChannels (std::int32_t count);

    std::int32_t length() const { return channels[0].size / 4; }
    const float* channel (int index) const { return static_cast<const float*> (channels[index].data); }
    void release();
};
