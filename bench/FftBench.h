#pragma once

#include <vector>

// Speed of fftTransform against FFTW (single precision, in place, FFTW_MEASURE).
struct FftBenchRow
{
    int size;          // complex points
    double ourNs;      // median ns per transform (forward and inverse alternating)
    double fftwNs;     // the same for FFTW
    double ratio;      // ourNs / fftwNs
};

// Sizes 16 to 32768. Each figure is the median over many timed batches of alternating
// forward and inverse transforms on one warm in-place buffer; batches of ours and FFTW's
// alternate so that both see the same machine load.
std::vector<FftBenchRow> measureFft();
