#pragma once

// Value-by-value products of spectra held as interleaved complex floats (re, im), as the
// convolution stages multiply an impulse partition with an input spectrum. Both products use
// single precision, (a + bi)(c + di) = (ac - bd) + (ad + bc)i with a + bi from partition, and
// give the same bits as that scalar formula. All three arrays must be 16-byte aligned; count is
// the number of complex values (0 or less does nothing).

#include <emmintrin.h>

namespace spectrum_detail
{
// Two complex products per register.
inline __m128 product (__m128 p, __m128 s)
{
    const __m128 re = _mm_shuffle_ps (p, p, _MM_SHUFFLE (2, 2, 0, 0));
    const __m128 im = _mm_shuffle_ps (p, p, _MM_SHUFFLE (3, 3, 1, 1));
    const __m128 swapped = _mm_shuffle_ps (s, s, _MM_SHUFFLE (2, 3, 0, 1));
    const __m128 negateRe = _mm_castsi128_ps (_mm_setr_epi32 (static_cast<int> (0x80000000u), 0, static_cast<int> (0x80000000u), 0));
    return _mm_add_ps (_mm_mul_ps (re, s), _mm_xor_ps (_mm_mul_ps (im, swapped), negateRe));
}

inline void scalarProduct (const float* p, const float* s, float& re, float& im)
{
    re = p[0] * s[0] - p[1] * s[1];
    im = p[0] * s[1] + p[1] * s[0];
}

template <bool accumulate>
inline void run (float* destination, const float* partition, const float* spectrum, int count)
{
    int k = 0;
    for (; k + 4 <= count; k += 4)
    {
        const int f = 2 * k;
        __m128 r0 = product (_mm_load_ps (partition + f), _mm_load_ps (spectrum + f));
        __m128 r1 = product (_mm_load_ps (partition + f + 4), _mm_load_ps (spectrum + f + 4));
        if (accumulate)
        {
            r0 = _mm_add_ps (_mm_load_ps (destination + f), r0);
            r1 = _mm_add_ps (_mm_load_ps (destination + f + 4), r1);
        }
        _mm_store_ps (destination + f, r0);
        _mm_store_ps (destination + f + 4, r1);
    }
    for (; k < count; ++k)
    {
        float re, im;
        scalarProduct (partition + 2 * k, spectrum + 2 * k, re, im);
        destination[2 * k] = accumulate ? destination[2 * k] + re : re;
        destination[2 * k + 1] = accumulate ? destination[2 * k + 1] + im : im;
    }
}
} // namespace spectrum_detail

// destination[k] = partition[k] * spectrum[k]; destination may be either source.
inline void spectrumMultiply (float* destination, const float* partition, const float* spectrum, int count)
{
    spectrum_detail::run<false> (destination, partition, spectrum, count);
}

// destination[k] += partition[k] * spectrum[k].
inline void spectrumMultiplyAdd (float* destination, const float* partition, const float* spectrum, int count)
{
    spectrum_detail::run<true> (destination, partition, spectrum, count);
}
