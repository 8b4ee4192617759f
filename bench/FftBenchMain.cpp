#include "FftBench.h"

#include <cstdio>

int main()
{
    std::printf ("%8s %12s %12s %8s\n", "N", "ours ns", "FFTW ns", "ratio");
    for (const auto& row : measureFft())
        std::printf ("%8d %12.1f %12.1f %8.2f\n", row.size, row.ourNs, row.fftwNs, row.ratio);
    return 0;
}
