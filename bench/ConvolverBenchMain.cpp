#include "ConvolverBench.h"

#include "../tests/support/EmbeddedResponses.h"

#include <cstdio>
#include <string>

int main()
{
    const auto result = measureConvolver();
    const std::string title = "7.72 s stereo impulse (" + std::to_string (ktotest::longestResponseFrames) + " frames at 44.1 kHz)";
    std::printf ("%-62s %10s\n", title.c_str(), "ms");
    for (const auto& t : result.times)
        std::printf ("%-62s %10.1f\n", t.what.c_str(), t.ms);
    std::printf ("\n%-16s %7s %7s %12s %12s\n", "sine error", "rate", "Hz", "max", "rms");
    for (const auto& e : result.errors)
        std::printf ("%-16s %7d %7.0f %12.3e %12.3e\n", e.converter.c_str(), e.rate, e.freq, e.maxError, e.rmsError);
    return 0;
}
