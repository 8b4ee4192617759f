// The inner loops of a convolution stage's hop, once per vector level: flushing and packing the
// input, multiply-accumulating spectra, overlap-adding the result, and summing stage outputs.
// Every lane does the scalar operations in the scalar order, so the width changes nothing.

#include "Kernels.h"
#include "Simd.h"

#include <cstring>

namespace simd::KTO_SIMD_LEVEL
{
namespace
{
// Values that are not finite or below 2^-54 in magnitude become +0.
float flush (float value)
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof bits);
    const std::uint32_t exponent = (bits >> 23) & 0xffu;
    return (exponent >= 73 && exponent <= 254) ? value : 0.0f;
}

float magnitudeOf (float value) { return value < 0.0f ? -value : value; }

// Packs values i .. end - 1 (a multiple of the width past i); returns the next i.
template <class V>
int packRun (float* slot, const float* re, const float* im, int i, int end, V scale, V floor, bool& loud)
{
    V largest = V::zero();
    for (; i + V::lanes <= end; i += V::lanes)
    {
        const V a = keepNormalAbove2e54 (scale * V::load (re + i));
        const V b = im != nullptr ? keepNormalAbove2e54 (scale * V::load (im + i)) : V::zero();
        largest = max (largest, max (magnitude (a), magnitude (b)));
        V lo, hi;
        interleave (a, b, lo, hi);
        lo.store (slot + 2 * i);
        hi.store (slot + 2 * i + V::lanes);
    }
    loud = loud || anyAbove (largest, floor);
    return i;
}

// Sums of products of interleaved complex values, floats i .. end - 1 in steps of the width.
template <class V, int pairs, bool store>
int multiplyAccumulateRun (float* acc, const float* const* a, const float* const* b, int i, int end)
{
    // Local copies: a vector store may alias anything, the pointers would be read again each step.
    const float* x0[pairs];
    const float* y0[pairs];
    for (int p = 0; p < pairs; ++p)
    {
        x0[p] = a[p];
        y0[p] = b[p];
    }
    for (; i + V::lanes <= end; i += V::lanes)
    {
        V sum = store ? V::zero() : V::load (acc + i);
        for (int p = 0; p < pairs; ++p)
        {
            const V x = V::load (x0[p] + i);
            const V y = V::load (y0[p] + i);
            // (xr yr - xi yi, xr yi + xi yr)
            const V product = dupReal (x) * y + negateReal (dupImag (x) * swapPairs (y));
            sum = (store && p == 0) ? product : sum + product;
        }
        sum.store (acc + i);
    }
    return i;
}

template <int pairs, bool store>
void multiplyAccumulateAll (float* acc, const float* const* a, const float* const* b, int count)
{
    const int i = multiplyAccumulateRun<Wide, pairs, store> (acc, a, b, 0, count);
    multiplyAccumulateRun<F4, pairs, store> (acc, a, b, i, count);
}

template <int pairs>
void multiplyAccumulatePairs (float* acc, const float* const* a, const float* const* b, int count, bool store)
{
    if (store)
        multiplyAccumulateAll<pairs, true> (acc, a, b, count);
    else
        multiplyAccumulateAll<pairs, false> (acc, a, b, count);
}

template <class V>
int overlapAddRun (const float* values, int part, float* overlap, float* out, int i, int count)
{
    for (; i + V::lanes <= count; i += V::lanes)
    {
        const V v0 = V::load (values + 2 * i), v1 = V::load (values + 2 * i + V::lanes);
        const V w0 = V::load (values + 2 * (count + i)), w1 = V::load (values + 2 * (count + i) + V::lanes);
        const V head = part == 0 ? realParts (v0, v1) : imagParts (v0, v1);
        const V tail = part == 0 ? realParts (w0, w1) : imagParts (w0, w1);
        (head + V::load (overlap + i)).store (out + i);
        tail.store (overlap + i);
    }
    return i;
}

template <class V>
int addRun (float* destination, const float* source, int i, int count)
{
    for (; i + V::lanes <= count; i += V::lanes)
        (V::load (destination + i) + V::load (source + i)).store (destination + i);
    return i;
}
} // namespace

bool pack (float* slot, const float* re, const float* im, int count, float scale, float floor)
{
    bool loud = false;
    int i = packRun<Wide> (slot, re, im, 0, count, Wide::broadcast (scale), Wide::broadcast (floor), loud);
    i = packRun<F4> (slot, re, im, i, count, F4::broadcast (scale), F4::broadcast (floor), loud);
    for (; i < count; ++i)
    {
        const float a = flush (scale * re[i]);
        const float b = im != nullptr ? flush (scale * im[i]) : 0.0f;
        slot[2 * i] = a;
        slot[2 * i + 1] = b;
        loud = loud || magnitudeOf (a) > floor || magnitudeOf (b) > floor;
    }
    return loud;
}

void overlapAdd (const float* values, int part, float* overlap, float* out, int count)
{
    int i = overlapAddRun<Wide> (values, part, overlap, out, 0, count);
    i = overlapAddRun<F4> (values, part, overlap, out, i, count);
    for (; i < count; ++i)
    {
        out[i] = values[2 * i + part] + overlap[i];
        overlap[i] = values[2 * (count + i) + part];
    }
}

void multiplyAccumulate (float* acc, const float* const* a, const float* const* b, int pairs, int count, bool store)
{
    switch (pairs)
    {
        case 1: multiplyAccumulatePairs<1> (acc, a, b, count, store); break;
        case 2: multiplyAccumulatePairs<2> (acc, a, b, count, store); break;
        case 3: multiplyAccumulatePairs<3> (acc, a, b, count, store); break;
        case 4: multiplyAccumulatePairs<4> (acc, a, b, count, store); break;
        default: break;
    }
}

void addSamples (float* destination, const float* source, int count)
{
    int i = addRun<Wide> (destination, source, 0, count);
    i = addRun<F4> (destination, source, i, count);
    for (; i < count; ++i)
        destination[i] += source[i];
}
} // namespace simd::KTO_SIMD_LEVEL
