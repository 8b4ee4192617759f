// The direct-form filter, once per vector level: output j = sum over m of taps[m] x window[j + m]
// (the taps stored reversed), products and sums in double, each output rounded to float once.
// Outputs come in pairs from one pass over the taps; an odd last output sums each group of four
// products in single precision.

#include "Kernels.h"
#include "Simd.h"

#include <algorithm>
#include <cstring>

namespace simd::KTO_SIMD_LEVEL
{
namespace
{
// Up to this many taps the taps and the window are converted to double once per call.
constexpr int doubleTapLimit = 512;
constexpr int doubleChunk = 1024;

void directFormFloat (const float* taps, int numTaps, const float* window, float* out, int numSamples)
{
    int j = 0;
    for (; j + 1 < numSamples; j += 2)
    {
        const float* w = window + j;
        double sum0 = 0.0, sum1 = 0.0;
        for (int m = 0; m < numTaps; ++m)
        {
            sum0 += static_cast<double> (taps[m]) * w[m];
            sum1 += static_cast<double> (taps[m]) * w[m + 1];
        }
        out[j] = static_cast<float> (sum0);
        out[j + 1] = static_cast<float> (sum1);
    }
    if (j < numSamples)
    {
        const float* w = window + j;
        double sum = 0.0;
        int m = 0;
        for (; m + 4 <= numTaps; m += 4)
            sum += static_cast<double> (taps[m] * w[m] + taps[m + 1] * w[m + 1] + taps[m + 2] * w[m + 2] + taps[m + 3] * w[m + 3]);
        for (; m < numTaps; ++m)
            sum += static_cast<double> (taps[m] * w[m]);
        out[j] = static_cast<float> (sum);
    }
}

// Tap pairs go to two lanes per output (even taps, odd taps), summed at the end; an odd last tap
// is added to the even lane alone, so that no product reaches past the newest input sample of its
// output. groups vectors of D::outputs outputs each.
template <class D, int groups>
KTO_INLINE void pairedOutputs (const double* taps, int numTaps, const double* w, float* out)
{
    D sums[groups];
    for (int g = 0; g < groups; ++g)
        sums[g] = D::zero();
    const int pairedTaps = numTaps & ~1;
    for (int m = 0; m < pairedTaps; m += 2)
    {
        const D t = D::tapPair (taps + m);
        for (int g = 0; g < groups; ++g)
            sums[g] = sums[g] + t * D::windowPairs (w + g * D::outputs + m);
    }
    for (int g = 0; g < groups; ++g)
    {
        if (pairedTaps < numTaps)
            sums[g] = addToEvenLanes (sums[g], D::broadcast (taps[pairedTaps]) * D::windowPairs (w + g * D::outputs + pairedTaps));
        double lanes[2 * D::outputs];
        sums[g].store (lanes);
        for (int q = 0; q < D::outputs; ++q)
            out[g * D::outputs + q] = static_cast<float> (lanes[2 * q] + lanes[2 * q + 1]);
    }
}

void directFormDouble (const float* taps, int numTaps, const float* window, float* out, int numSamples)
{
    double tapsD[doubleTapLimit];
    double windowD[doubleTapLimit + doubleChunk + 4];
    for (int m = 0; m < numTaps; ++m)
        tapsD[m] = taps[m];
    const int pairsEnd = numSamples & ~1;
    for (int first = 0; first < pairsEnd; first += doubleChunk)
    {
        const int count = pairsEnd - first < doubleChunk ? pairsEnd - first : doubleChunk;
        const int span = count + numTaps + 3;
        const int available = numTaps + numSamples - 1 - first;
        for (int i = 0; i < span; ++i)
            windowD[i] = i < available ? window[first + i] : 0.0;
        constexpr int wide = 4 * WideDouble::outputs > 4 ? 2 * WideDouble::outputs : 4;
        int j = 0;
        for (; j + wide <= count; j += wide)
            pairedOutputs<WideDouble, wide / WideDouble::outputs> (tapsD, numTaps, windowD + j, out + first + j);
        for (; j < count; j += 2)
            pairedOutputs<D2, 2> (tapsD, numTaps, windowD + j, out + first + j);
    }
    if (pairsEnd < numSamples)
        directFormFloat (taps, numTaps, window + pairsEnd, out + pairsEnd, numSamples - pairsEnd);
}

bool allFinite (const float* values, int count)
{
    std::uint32_t infinite = 0;
    for (int i = 0; i < count; ++i)
    {
        std::uint32_t bits;
        std::memcpy (&bits, values + i, sizeof bits);
        infinite |= static_cast<std::uint32_t> ((bits & 0x7f800000u) == 0x7f800000u);
    }
    return infinite == 0;
}
} // namespace

void directForm (const float* taps, int numTaps, int soundingTaps, const float* window, float* out, int numSamples)
{
    // A zero tap's products are zeros, which leave every sum as it is (a sum that starts at +0 is
    // never -0), unless a window value is infinite or NaN. So the zero taps at the end are left
    // out, in whole groups of four for the odd output's single-precision groups; the path still
    // follows the full count.
    int summed = numTaps;
    if (soundingTaps < numTaps && allFinite (window, numTaps + numSamples - 1))
        summed = std::min (numTaps, (soundingTaps + 3) / 4 * 4);
    if (summed == 0)
        std::fill (out, out + numSamples, 0.0f);
    else if (numTaps <= doubleTapLimit)
        directFormDouble (taps, summed, window, out, numSamples);
    else
        directFormFloat (taps, summed, window, out, numSamples);
}
} // namespace simd::KTO_SIMD_LEVEL
