#pragma once

#include <string>
#include <vector>

// Bringing a 7.72 s stereo impulse response (340317 frames at 44.1 kHz) to the processing rate,
// and the same conversion by libsamplerate (SRC_SINC_BEST_QUALITY) and libsoxr (VHQ).
struct ConvolverBenchTime
{
    std::string what;
    double ms; // median wall time
};

struct ConvolverBenchError
{
    std::string converter;
    int rate;
    double freq;
    double maxError; // largest deviation from the ideal sine, away from the ends
    double rmsError;
};

struct ConvolverBenchResult
{
    std::vector<ConvolverBenchTime> times;
    std::vector<ConvolverBenchError> errors;
};

ConvolverBenchResult measureConvolver();
