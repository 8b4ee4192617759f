#include "Convolver.h"

#include "ResampleBuffer.h"
#include "gsl_throw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
double rateOf (const Buffer* buffer)
{
    KTO_EXPECTS (buffer != nullptr);
    return static_cast<double> (buffer->sampleRate);
}
} // namespace

Convolver::Convolver (Buffer* source_)
    : sampleRate (rateOf (source_)),
      source (source_),
      working (1, 1, 44100)
{
    try
    {
        load (*source);
    }
    catch (...)
    {
        // No destructor runs for a half-built Convolver: give back what the impulse took.
        impulse.release();
        throw;
    }
}

Convolver::~Convolver()
{
    impulse.release();
}

Buffer Convolver::convert (const Buffer& from, double rate)
{
    // Beyond what an int holds (or not a number) no buffer could be made at that rate; smaller
    // unusable rates fail in resampleBuffer's own checks.
    KTO_EXPECTS (rate > -2147483648.0 && rate < 2147483648.0);
    Buffer converted = resampleBuffer (from, static_cast<int> (rate));
    converted.applyGain (static_cast<float> (static_cast<double> (from.sampleRate) / rate));
    return converted;
}

void Convolver::load (const Buffer& from)
{
    impulse.set (from.audio.getArrayOfReadPointers(), from.audio.getNumSamples(), from.audio.getNumChannels());
    engine.setImpulse (&impulse, 0, 0, 0, 0, 0);
    reserved = engine.reserve (quantum, maxChannels);
}

void Convolver::prepare (double newSampleRate)
{
    engine.reset();
    if (newSampleRate == sampleRate)
    {
        // Brings back what a run on fewer channels let go.
        reserved = engine.reserve (quantum, maxChannels);
        return;
    }
    // Everything that can fail happens before the first member changes.
    Buffer converted = convert (*source, newSampleRate);
    working = std::move (converted);
    load (working);
    sampleRate = newSampleRate;
}

void Convolver::setImpulse (const Buffer& newImpulse)
{
    if (sampleRate == static_cast<double> (newImpulse.sampleRate))
    {
        load (newImpulse);
        return;
    }
    Buffer converted = convert (newImpulse, sampleRate);
    working = std::move (converted);
    load (working);
}

void Convolver::process (float* const* channels, int numChannels, int numSamples) noexcept
{
    if (channels == nullptr || numChannels <= 0 || numSamples <= 0)
        return;
    const int used = reserved ? std::min (numChannels, maxChannels) : 0;
    // The engine is linear and has no latency, so pieces give the whole block's convolution; only
    // the rounding may differ, as the engine's order of summing depends on the pieces' sizes.
    for (int start = 0; start < numSamples && used > 0; start += quantum)
    {
        const int length = std::min (quantum, numSamples - start);
        float* piece[maxChannels] = { nullptr, nullptr };
        for (int c = 0; c < used; ++c)
            piece[c] = channels[c] + start;
        engine.add (piece, length, used);
        // Should the engine ever deliver less than the piece, only what it delivered is copied
        // and the rest of the piece is silence.
        const int ready = std::clamp (engine.avail (length), 0, length);
        float* const* output = engine.getOutput();
        for (int c = 0; c < used; ++c)
        {
            const float* wet = output != nullptr ? output[c] : nullptr;
            const int n = wet != nullptr ? std::min (ready, engine.output[c].unread()) : 0;
            copyChannels (&wet, &piece[c], 1, n);
            std::fill (piece[c] + n, piece[c] + length, 0.0f);
        }
        engine.advance (ready);
    }
    for (int c = used; c < numChannels; ++c)
        std::fill (channels[c], channels[c] + numSamples, 0.0f);
}
