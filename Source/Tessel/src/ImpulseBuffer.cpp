#include "ImpulseBuffer.h"

#include <algorithm>
#include <cstring>

std::int32_t ImpulseBuffer::setLength (std::int32_t length)
{
    const std::int64_t bytes = 4 * static_cast<std::int64_t> (length);
    for (int c = 0; c < numChannels; ++c)
    {
        HeapBuffer& channelBuffer = channels[c];
        const std::int32_t oldSize = channelBuffer.size;
        if (oldSize == bytes)
            continue;
        if (! channelBuffer.resizeTo (bytes, false))
        {
            channels[0].resize (0, true);
            channels[1].resize (0, true);
            return 0;
        }
        if (channelBuffer.size > oldSize)
            std::memset (static_cast<unsigned char*> (channelBuffer.data) + oldSize, 0,
                         static_cast<std::size_t> (channelBuffer.size - oldSize));
    }
    return channels[0].size / 4;
}

void ImpulseBuffer::setNumChannels (std::int32_t count)
{
    const std::int32_t target = count <= 0 ? 1 : std::min (count, 2);
    const std::int32_t old = numChannels;
    if (target > old)
    {
        numChannels = target;
        const std::int32_t n = setLength (channels[0].size / 4);
        if (n <= 0)
            return;
        for (std::int32_t j = old, i = 0; j < target; ++j, i = (i + 1) % old)
            std::memcpy (channels[j].data, channels[i].data, static_cast<std::size_t> (n) * 4);
    }
    else if (target < old)
    {
        numChannels = target;
        for (std::int32_t c = target; c < 2; ++c)
            channels[c].resize (0, false);
    }
}

void ImpulseBuffer::set (const float* const* source, std::int32_t length, std::int32_t count)
{
    setLength (length);
    setNumChannels (count);
    const std::int32_t n = channels[0].size / 4;
    if (n <= 0 || source == nullptr)
        return;
    for (int c = 0; c < numChannels; ++c)
    {
        if (source[c] != nullptr)
            std::memcpy (channels[c].data, source[c], static_cast<std::size_t> (n) * 4);
        else
            std::memset (channels[c].data, 0, static_cast<std::size_t> (n) * 4);
    }
}

void ImpulseBuffer::release()
{
    channels[0].release();
    channels[1].release();
}
