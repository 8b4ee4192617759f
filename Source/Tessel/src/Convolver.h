#pragma once

#include "Buffer.h"
#include "ConvolutionEngine.h"
#include "ImpulseBuffer.h"

// Binds an impulse response held in a Buffer to the zero-latency convolution engine, keeping the
// engine's copy at the processing rate: resampled, and scaled by impulse rate / processing rate,
// whenever the two differ.
//
// prepare runs on the host's thread, process on the render thread and setImpulse on the message
// thread; the callers keep them from overlapping.
class Convolver
{
public:
    // The source belongs to the caller and must outlive the Convolver; the engine starts with its
    // impulse response unchanged, at its own rate.
    explicit Convolver (Buffer* source);
    ~Convolver();
    Convolver (const Convolver&) = delete;
    Convolver& operator= (const Convolver&) = delete;

    // Loads a new impulse response at the current processing rate and rebuilds the engine (the
    // old tail is dropped). Throws gsl::fail_fast when it cannot be brought to that rate; then
    // nothing has changed.
    void setImpulse (const Buffer& newImpulse);

    // Clears the engine's history and, when the rate differs from the one held, brings the source
    // to the new rate. Throws gsl::fail_fast for a rate that is unusable; then nothing has
    // changed beyond the cleared history.
    void prepare (double newSampleRate);

    // Replaces each channel's block by the convolved (wet) signal. Channels beyond the engine's
    // two are silenced. Never allocates: the engine is fed pieces of at most quantum samples,
    // for which setImpulse and prepare reserved all its memory. When that reservation failed the
    // block becomes silence.
    void process (float* const* channels, int numChannels, int numSamples) noexcept;

    // The largest piece the engine is ever fed: larger than the blocks hosts usually send, which
    // therefore reach the engine whole.
    static constexpr int quantum = 8192;

    double sampleRate;
    Buffer* const source;
    Buffer working;
    ImpulseBuffer impulse;
    ConvolutionEngine engine;
    // Whether the engine's memory for pieces of up to quantum samples is in place.
    bool reserved = false;

private:
    static constexpr int maxChannels = 2;
    // The impulse brought to rate and scaled, without touching any member.
    static Buffer convert (const Buffer& from, double rate);
    void load (const Buffer& from);
};
