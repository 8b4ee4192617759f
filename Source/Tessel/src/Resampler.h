#pragma once

#include "HeapBuffer.h"

#include <cstdint>

// Streaming sample-rate converter for interleaved float frames, 1 to 64 channels.
// Main mode: band-limited interpolation through a table of windowed-sinc filters at fixed
// fractional phases, interpolated linearly between neighbouring phases. Without the sinc table
// it interpolates linearly or picks the nearest sample, optionally through IIR lowpass sections.
//
// One signal: setMode, setRates, then rounds of prepare / write frames / resampleOut;
// reset before an unrelated signal. Allocation failures shrink what a call can do, never throw.
struct Resampler
{
    Resampler() = default;
    ~Resampler();
    Resampler (const Resampler&) = delete;
    Resampler& operator= (const Resampler&) = delete;

    // The sinc mode (sinc true and sincSize >= 4) excludes the lowpass sections.
    void setMode (bool interpolate, int iirCount, bool sinc, int sincSize, int phases);
    // Rates below 1 count as 1.
    void setRates (double inRate, double outRate);
    // Makes room for the input that outFrames outputs need. *inputPointer receives where the caller
    // writes its interleaved frames; the result is how many frames fit there (0 for a channel
    // count outside 1..64, in which case nothing is written).
    int prepare (int outFrames, int numChannels, float** inputPointer);
    // Takes the inFrames frames written after prepare and writes up to outFrames frames to out.
    // Fewer input frames than the room means the signal ends there. Returns the valid output count.
    int resampleOut (float* out, int inFrames, int outFrames, int numChannels);
    // Starts a new signal at the given read position; lowpass memories are zeroed.
    void reset (double newPosition);
    // Builds the sinc table for a cutoff given as a fraction of the input's Nyquist frequency,
    // unless the one held already fits.
    void buildSincTable (double cutoff);

    // Lowpass block: corner and coefficients, then 4 memories (x1, x2, y1, y2) per section.
    struct LowpassState
    {
        double corner;
        double a1, a2, b0, b1, b2;
        double memory[256][4];
    };

    double inRate = 44100.0;
    double outRate = 44100.0;
    double position = 0.0;
    double ratio = 1.0;
    double tableCutoff = -1.0;
    float lowpassQ = 0.707f;
    float lowpassFreq = 0.693f;
    HeapBuffer input;
    HeapBuffer table;
    LowpassState* lowpassState = nullptr;
    int tableSincSize = 0;
    int room = 0;
    int held = 0;
    int tablePhases = 1;
    int sincSize = 0;
    int iirCount = 1;
    int phases = 0;
    bool interpolate = true;

private:
    float* frames() const noexcept { return reinterpret_cast<float*> (input.data); }
    bool growInput (int numFrames, int numChannels);
    LowpassState* lowpass();
    void runLowpass (float* samples, int numFrames, int numChannels, double corner);
};
