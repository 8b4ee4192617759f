#include "ResampleBuffer.h"

#include "Resampler.h"
#include "gsl_throw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

Buffer resampleBuffer (const Buffer& input, int newRate)
{
    const int frames = input.audio.getNumSamples();
    const int channels = input.audio.getNumChannels();
    const int oldRate = input.sampleRate;
    const double newFramesExact = std::trunc (frames * (static_cast<double> (newRate) / oldRate));
    // A length beyond what a buffer can hold cannot be converted to an int at all.
    KTO_EXPECTS (newFramesExact <= static_cast<double> (std::numeric_limits<int>::max()));
    const int newFrames = static_cast<int> (std::max (newFramesExact, -1.0));

    Buffer result (channels, newFrames, newRate);
    if (newFrames == frames)
    {
        result = input;
        return result;
    }

    Resampler resampler;
    resampler.setMode (false, 0, true, 64, 32);
    resampler.setRates (oldRate, newRate);

    for (int c = 0; c < channels; ++c)
    {
        const float* source = input.audio.getReadPointer (c);
        float* destination = result.audio.getWritePointer (c);
        // Fed in as many rounds as the room allows: a large ratio or a store that cannot grow
        // gives less room than the channel's length, and nothing is written past it.
        int fed = 0;
        int produced = 0;
        bool ended = false;
        while (produced < newFrames && ! ended)
        {
            float* room = nullptr;
            const int space = resampler.prepare (newFrames - produced, 1, &room);
            const int n = std::min (space, frames - fed);
            if (n > 0)
                std::memcpy (room, source + fed, sizeof (float) * static_cast<size_t> (n));
            fed += n;
            ended = n < space; // less than the room tells the resampler the channel ends here
            const int got = resampler.resampleOut (destination + produced, n, newFrames - produced, 1);
            produced += got;
            if (space <= 0 && got <= 0)
                break; // the store cannot grow at all
        }
        resampler.reset (0.0);
    }
    return result;
}
