#include "ImpulseBuffer.h"
#include "Owned.h"

#include <gtest/gtest.h>

TEST (ImpulseBuffer, ChannelsLengthsAndFailure)
{
    ktotest::Owned<ImpulseBuffer> buffer;
    const float a[3] = { 1, 2, 3 };
    const float b[3] = { 4, 5, 6 };
    const float* both[2] = { a, b };
    buffer.set (both, 3, 1);
    EXPECT_EQ (buffer.numChannels, 1);
    buffer.set (both, 3, 2);
    EXPECT_EQ (buffer.numChannels, 2);
    EXPECT_EQ (buffer.channel (1)[2], 6.0f);
    buffer.set (both, 3, 1);
    EXPECT_EQ (buffer.channels[1].size, 0);
    buffer.set (both, 3, 5);
    EXPECT_EQ (buffer.numChannels, 2);
    buffer.setNumChannels (1);
    buffer.setNumChannels (2); // the new channel copies channel 0
    EXPECT_EQ (buffer.channel (1)[1], 2.0f);
    buffer.setNumChannels (-3);
    EXPECT_EQ (buffer.numChannels, 1);
    EXPECT_EQ (buffer.setLength (5), 5);
    EXPECT_EQ (buffer.channel (0)[4], 0.0f);
    EXPECT_EQ (buffer.channel (0)[2], 3.0f);
    EXPECT_EQ (buffer.setLength (-1), 0);
    EXPECT_EQ (buffer.length(), 0);
}
