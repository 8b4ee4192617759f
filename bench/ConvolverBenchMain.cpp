#include "ConvolverBench.h"

#include <cstdio>

int main()
{
    const auto result = measureConvolver();
    std::printf ("%-62s %10s\n", "7.72 s stereo impulse (340317 frames at 44.1 kHz)", "ms");
    for (const auto& t : result.times)
        std::printf ("%-62s %10.1f\n", t.what.c_str(), t.ms);
    std::printf ("\n%-16s %7s %7s %12s %12s\n", "sine error", "rate", "Hz", "max", "rms");
    for (const auto& e : result.errors)
        std::printf ("%-16s %7d %7.0f %12.3e %12.3e\n", e.converter.c_str(), e.rate, e.freq, e.maxError, e.rmsError);
    return 0;
}
