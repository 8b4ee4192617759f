#pragma once

// The vector operations the signal-processing core is written in: float vectors of 4, 8 and 16
// lanes (F4, F8, F16) and double vectors of 2, 4 and 8 (D2, D4, D8). Complex values sit
// interleaved, real part first, so an F4 holds two of them, an F8 four and an F16 eight. Every
// operation is exact lane by lane (no fused multiply-add), so code written once gives the same
// bits at every width.
//
// The files compiled once per vector level set KTO_SIMD_LEVEL to the level's name and get the
// wider types when their flags allow; everything lands in namespace simd::<level>, so that the same
// inline function compiled for two levels never merges into one.

#if !defined(__x86_64__) || !defined(__SSE2__)
#error "The signal-processing core is written for x86-64 (SSE2 and up)."
#endif

#include <immintrin.h>

#include <cstdint>

#ifndef KTO_SIMD_LEVEL
#define KTO_SIMD_LEVEL sse2
#endif

#define KTO_INLINE inline __attribute__ ((always_inline))

namespace simd::KTO_SIMD_LEVEL
{
//==============================================================================
struct F4
{
    __m128 v;
    static constexpr int lanes = 4;
    static KTO_INLINE F4 load (const float* p) { return { _mm_loadu_ps (p) }; }
    static KTO_INLINE F4 broadcast (float x) { return { _mm_set1_ps (x) }; }
    static KTO_INLINE F4 zero() { return { _mm_setzero_ps() }; }
    KTO_INLINE void store (float* p) const { _mm_storeu_ps (p, v); }
};

KTO_INLINE F4 operator+ (F4 a, F4 b) { return { _mm_add_ps (a.v, b.v) }; }
KTO_INLINE F4 operator- (F4 a, F4 b) { return { _mm_sub_ps (a.v, b.v) }; }
KTO_INLINE F4 operator* (F4 a, F4 b) { return { _mm_mul_ps (a.v, b.v) }; }
KTO_INLINE F4 max (F4 a, F4 b) { return { _mm_max_ps (a.v, b.v) }; }
KTO_INLINE F4 magnitude (F4 a) { return { _mm_and_ps (a.v, _mm_castsi128_ps (_mm_set1_epi32 (0x7fffffff))) }; }

// Lanes i0 and i1 of a, then lanes i2 and i3 of b.
template <int i0, int i1, int i2, int i3>
KTO_INLINE F4 shuffle (F4 a, F4 b) { return { _mm_shuffle_ps (a.v, b.v, _MM_SHUFFLE (i3, i2, i1, i0)) }; }

// Flips the sign of the lanes whose flag is set.
template <int s0, int s1, int s2, int s3>
KTO_INLINE F4 flipSigns (F4 a)
{
    const __m128i m = _mm_setr_epi32 (s0 ? INT32_MIN : 0, s1 ? INT32_MIN : 0, s2 ? INT32_MIN : 0, s3 ? INT32_MIN : 0);
    return { _mm_xor_ps (a.v, _mm_castsi128_ps (m)) };
}

KTO_INLINE F4 swapPairs (F4 a) { return shuffle<1, 0, 3, 2> (a, a); }
KTO_INLINE F4 dupReal (F4 a) { return shuffle<0, 0, 2, 2> (a, a); }
KTO_INLINE F4 dupImag (F4 a) { return shuffle<1, 1, 3, 3> (a, a); }
KTO_INLINE F4 negateReal (F4 a) { return flipSigns<1, 0, 1, 0> (a); }
KTO_INLINE F4 negateImag (F4 a) { return flipSigns<0, 1, 0, 1> (a); }
// The first complex value from plain, the others from rest.
KTO_INLINE F4 firstFrom (F4 plain, F4 rest) { return shuffle<0, 1, 2, 3> (plain, rest); }

// Two vectors of interleaved complex values, in memory order, from their real and imaginary
// parts (and back).
KTO_INLINE void interleave (F4 re, F4 im, F4& lo, F4& hi)
{
    lo = { _mm_unpacklo_ps (re.v, im.v) };
    hi = { _mm_unpackhi_ps (re.v, im.v) };
}
KTO_INLINE F4 realParts (F4 lo, F4 hi) { return shuffle<0, 2, 0, 2> (lo, hi); }
KTO_INLINE F4 imagParts (F4 lo, F4 hi) { return shuffle<1, 3, 1, 3> (lo, hi); }

// Lanes that hold zero, a subnormal, a value below 2^-54 in magnitude, an infinity or a NaN
// become +0: exactly the lanes whose exponent field lies outside 73..254.
KTO_INLINE F4 keepNormalAbove2e54 (F4 a)
{
    const __m128i e = _mm_and_si128 (_mm_srli_epi32 (_mm_castps_si128 (a.v), 23), _mm_set1_epi32 (0xff));
    const __m128i keep = _mm_and_si128 (_mm_cmpgt_epi32 (e, _mm_set1_epi32 (72)), _mm_cmplt_epi32 (e, _mm_set1_epi32 (255)));
    return { _mm_and_ps (a.v, _mm_castsi128_ps (keep)) };
}
// Whether any lane exceeds floor.
KTO_INLINE bool anyAbove (F4 a, F4 floor) { return _mm_movemask_ps (_mm_cmpgt_ps (a.v, floor.v)) != 0; }

//==============================================================================
// Doubles. The direct form keeps each output's sum in two lanes (even and odd taps): a D2 holds
// one output's pair, a D4 two outputs' and a D8 four outputs'.
struct D2
{
    __m128d v;
    static constexpr int outputs = 1;
    static KTO_INLINE D2 load (const double* p) { return { _mm_loadu_pd (p) }; }
    // Taps m and m + 1 in every output's pair of lanes; the window's values m + q and m + q + 1
    // in output q's.
    static KTO_INLINE D2 tapPair (const double* t) { return load (t); }
    static KTO_INLINE D2 windowPairs (const double* w) { return load (w); }
    KTO_INLINE void store (double* p) const { _mm_storeu_pd (p, v); }
    static KTO_INLINE D2 zero() { return { _mm_setzero_pd() }; }
    static KTO_INLINE D2 broadcast (double x) { return { _mm_set1_pd (x) }; }
    KTO_INLINE double first() const { return _mm_cvtsd_f64 (v); }
    KTO_INLINE double second() const { return _mm_cvtsd_f64 (_mm_unpackhi_pd (v, v)); }
};

KTO_INLINE D2 operator+ (D2 a, D2 b) { return { _mm_add_pd (a.v, b.v) }; }
KTO_INLINE D2 operator* (D2 a, D2 b) { return { _mm_mul_pd (a.v, b.v) }; }
// a + b in the even lanes only; the odd lanes keep a's.
KTO_INLINE D2 addToEvenLanes (D2 a, D2 b) { return { _mm_add_sd (a.v, b.v) }; }
// Lanes 0, 1 (or 2, 3) of a float vector, widened.
KTO_INLINE D2 widenLow (F4 a) { return { _mm_cvtps_pd (a.v) }; }
KTO_INLINE D2 widenHigh (F4 a) { return { _mm_cvtps_pd (_mm_movehl_ps (a.v, a.v)) }; }

#if defined(__AVX2__)
//==============================================================================
struct F8
{
    __m256 v;
    using Half = F4;
    static constexpr int lanes = 8;
    static KTO_INLINE F8 load (const float* p) { return { _mm256_loadu_ps (p) }; }
    static KTO_INLINE F8 broadcast (float x) { return { _mm256_set1_ps (x) }; }
    static KTO_INLINE F8 zero() { return { _mm256_setzero_ps() }; }
    KTO_INLINE void store (float* p) const { _mm256_storeu_ps (p, v); }
};

KTO_INLINE F8 operator+ (F8 a, F8 b) { return { _mm256_add_ps (a.v, b.v) }; }
KTO_INLINE F8 operator- (F8 a, F8 b) { return { _mm256_sub_ps (a.v, b.v) }; }
KTO_INLINE F8 operator* (F8 a, F8 b) { return { _mm256_mul_ps (a.v, b.v) }; }
KTO_INLINE F8 max (F8 a, F8 b) { return { _mm256_max_ps (a.v, b.v) }; }
KTO_INLINE F8 magnitude (F8 a) { return { _mm256_and_ps (a.v, _mm256_castsi256_ps (_mm256_set1_epi32 (0x7fffffff))) }; }

KTO_INLINE F8 swapPairs (F8 a) { return { _mm256_permute_ps (a.v, 0xb1) }; }
KTO_INLINE F8 dupReal (F8 a) { return { _mm256_moveldup_ps (a.v) }; }
KTO_INLINE F8 dupImag (F8 a) { return { _mm256_movehdup_ps (a.v) }; }
KTO_INLINE F8 negateReal (F8 a) { return { _mm256_xor_ps (a.v, _mm256_castsi256_ps (_mm256_set1_epi64x (0x80000000ll))) }; }
KTO_INLINE F8 negateImag (F8 a) { return { _mm256_xor_ps (a.v, _mm256_castsi256_ps (_mm256_set1_epi64x (INT64_MIN))) }; }
KTO_INLINE F8 firstFrom (F8 plain, F8 rest) { return { _mm256_blend_ps (rest.v, plain.v, 0x03) }; }

KTO_INLINE F4 lowHalf (F8 a) { return { _mm256_castps256_ps128 (a.v) }; }
KTO_INLINE F4 highHalf (F8 a) { return { _mm256_extractf128_ps (a.v, 1) }; }
KTO_INLINE F8 join (F4 lo, F4 hi) { return { _mm256_insertf128_ps (_mm256_castps128_ps256 (lo.v), hi.v, 1) }; }

KTO_INLINE void interleave (F8 re, F8 im, F8& lo, F8& hi)
{
    const __m256 a = _mm256_unpacklo_ps (re.v, im.v), b = _mm256_unpackhi_ps (re.v, im.v);
    lo = { _mm256_permute2f128_ps (a, b, 0x20) };
    hi = { _mm256_permute2f128_ps (a, b, 0x31) };
}
KTO_INLINE F8 realParts (F8 lo, F8 hi)
{
    const __m256 even = _mm256_shuffle_ps (lo.v, hi.v, _MM_SHUFFLE (2, 0, 2, 0));
    return { _mm256_castpd_ps (_mm256_permute4x64_pd (_mm256_castps_pd (even), _MM_SHUFFLE (3, 1, 2, 0))) };
}
KTO_INLINE F8 imagParts (F8 lo, F8 hi)
{
    const __m256 odd = _mm256_shuffle_ps (lo.v, hi.v, _MM_SHUFFLE (3, 1, 3, 1));
    return { _mm256_castpd_ps (_mm256_permute4x64_pd (_mm256_castps_pd (odd), _MM_SHUFFLE (3, 1, 2, 0))) };
}

struct D4
{
    __m256d v;
    static constexpr int outputs = 2;
    static KTO_INLINE D4 zero() { return { _mm256_setzero_pd() }; }
    static KTO_INLINE D4 broadcast (double x) { return { _mm256_set1_pd (x) }; }
    static KTO_INLINE D4 tapPair (const double* t) { return { _mm256_broadcast_pd (reinterpret_cast<const __m128d*> (t)) }; }
    static KTO_INLINE D4 windowPairs (const double* w) { return { _mm256_permute4x64_pd (_mm256_loadu_pd (w), _MM_SHUFFLE (2, 1, 1, 0)) }; }
    KTO_INLINE void store (double* p) const { _mm256_storeu_pd (p, v); }
};

KTO_INLINE D4 operator+ (D4 a, D4 b) { return { _mm256_add_pd (a.v, b.v) }; }
KTO_INLINE D4 operator* (D4 a, D4 b) { return { _mm256_mul_pd (a.v, b.v) }; }
KTO_INLINE D4 addToEvenLanes (D4 a, D4 b) { return { _mm256_blend_pd (a.v, _mm256_add_pd (a.v, b.v), 0x5) }; }

KTO_INLINE F8 keepNormalAbove2e54 (F8 a)
{
    const __m256i e = _mm256_and_si256 (_mm256_srli_epi32 (_mm256_castps_si256 (a.v), 23), _mm256_set1_epi32 (0xff));
    const __m256i keep = _mm256_and_si256 (_mm256_cmpgt_epi32 (e, _mm256_set1_epi32 (72)), _mm256_cmpgt_epi32 (_mm256_set1_epi32 (255), e));
    return { _mm256_and_ps (a.v, _mm256_castsi256_ps (keep)) };
}
KTO_INLINE bool anyAbove (F8 a, F8 floor) { return _mm256_movemask_ps (_mm256_cmp_ps (a.v, floor.v, _CMP_GT_OQ)) != 0; }
#endif

#if defined(__AVX512F__)
//==============================================================================
// The unmasked AVX-512 intrinsics pass GCC 12 an undefined operand that it then warns about;
// their zero-masking forms under a full mask are the same instructions.
constexpr __mmask16 all = 0xffff;

struct F16
{
    __m512 v;
    using Half = F8;
    static constexpr int lanes = 16;
    static KTO_INLINE F16 load (const float* p) { return { _mm512_loadu_ps (p) }; }
    static KTO_INLINE F16 broadcast (float x) { return { _mm512_set1_ps (x) }; }
    static KTO_INLINE F16 zero() { return { _mm512_setzero_ps() }; }
    KTO_INLINE void store (float* p) const { _mm512_storeu_ps (p, v); }
};

KTO_INLINE F16 operator+ (F16 a, F16 b) { return { _mm512_add_ps (a.v, b.v) }; }
KTO_INLINE F16 operator- (F16 a, F16 b) { return { _mm512_sub_ps (a.v, b.v) }; }
KTO_INLINE F16 operator* (F16 a, F16 b) { return { _mm512_mul_ps (a.v, b.v) }; }
KTO_INLINE F16 max (F16 a, F16 b) { return { _mm512_maskz_max_ps (all, a.v, b.v) }; }
KTO_INLINE F16 magnitude (F16 a) { return { _mm512_castsi512_ps (_mm512_and_si512 (_mm512_castps_si512 (a.v), _mm512_set1_epi32 (0x7fffffff))) }; }

KTO_INLINE F16 swapPairs (F16 a) { return { _mm512_maskz_permute_ps (all, a.v, 0xb1) }; }
KTO_INLINE F16 dupReal (F16 a) { return { _mm512_maskz_moveldup_ps (all, a.v) }; }
KTO_INLINE F16 dupImag (F16 a) { return { _mm512_maskz_movehdup_ps (all, a.v) }; }
KTO_INLINE F16 flipBits (F16 a, std::int64_t pattern)
{
    return { _mm512_castsi512_ps (_mm512_xor_si512 (_mm512_castps_si512 (a.v), _mm512_set1_epi64 (pattern))) };
}
KTO_INLINE F16 negateReal (F16 a) { return flipBits (a, 0x80000000ll); }
KTO_INLINE F16 negateImag (F16 a) { return flipBits (a, INT64_MIN); }
KTO_INLINE F16 firstFrom (F16 plain, F16 rest) { return { _mm512_mask_mov_ps (rest.v, 0x0003, plain.v) }; }

KTO_INLINE F8 lowHalf (F16 a) { return { _mm256_castpd_ps (_mm512_maskz_extractf64x4_pd (0x0f, _mm512_castps_pd (a.v), 0)) }; }
KTO_INLINE F8 highHalf (F16 a) { return { _mm256_castpd_ps (_mm512_maskz_extractf64x4_pd (0x0f, _mm512_castps_pd (a.v), 1)) }; }
KTO_INLINE F16 join (F8 lo, F8 hi)
{
    return { _mm512_castpd_ps (_mm512_maskz_insertf64x4 (0xff, _mm512_castpd256_pd512 (_mm256_castps_pd (lo.v)), _mm256_castps_pd (hi.v), 1)) };
}

KTO_INLINE void interleave (F16 re, F16 im, F16& lo, F16& hi)
{
    const __m512i first = _mm512_setr_epi32 (0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second = _mm512_setr_epi32 (8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    lo = { _mm512_permutex2var_ps (re.v, first, im.v) };
    hi = { _mm512_permutex2var_ps (re.v, second, im.v) };
}
KTO_INLINE F16 realParts (F16 lo, F16 hi)
{
    return { _mm512_permutex2var_ps (lo.v, _mm512_setr_epi32 (0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), hi.v) };
}
KTO_INLINE F16 imagParts (F16 lo, F16 hi)
{
    return { _mm512_permutex2var_ps (lo.v, _mm512_setr_epi32 (1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), hi.v) };
}

struct D8
{
    __m512d v;
    static constexpr int outputs = 4;
    static KTO_INLINE D8 zero() { return { _mm512_setzero_pd() }; }
    static KTO_INLINE D8 broadcast (double x) { return { _mm512_set1_pd (x) }; }
    static KTO_INLINE D8 tapPair (const double* t)
    {
        return { _mm512_castps_pd (_mm512_maskz_broadcast_f32x4 (all, _mm_castpd_ps (_mm_loadu_pd (t)))) };
    }
    static KTO_INLINE D8 windowPairs (const double* w)
    {
        return { _mm512_maskz_permutexvar_pd (0xff, _mm512_setr_epi64 (0, 1, 1, 2, 2, 3, 3, 4), _mm512_loadu_pd (w)) };
    }
    KTO_INLINE void store (double* p) const { _mm512_storeu_pd (p, v); }
};

KTO_INLINE D8 operator+ (D8 a, D8 b) { return { _mm512_add_pd (a.v, b.v) }; }
KTO_INLINE D8 operator* (D8 a, D8 b) { return { _mm512_mul_pd (a.v, b.v) }; }
KTO_INLINE D8 addToEvenLanes (D8 a, D8 b) { return { _mm512_mask_add_pd (a.v, 0x55, a.v, b.v) }; }

KTO_INLINE F16 keepNormalAbove2e54 (F16 a)
{
    const __m512i e = _mm512_and_si512 (_mm512_maskz_srli_epi32 (all, _mm512_castps_si512 (a.v), 23), _mm512_set1_epi32 (0xff));
    const __mmask16 keep = _mm512_cmpgt_epi32_mask (e, _mm512_set1_epi32 (72)) & _mm512_cmplt_epi32_mask (e, _mm512_set1_epi32 (255));
    return { _mm512_maskz_mov_ps (keep, a.v) };
}
KTO_INLINE bool anyAbove (F16 a, F16 floor) { return _mm512_cmp_ps_mask (a.v, floor.v, _CMP_GT_OQ) != 0; }
#endif

//==============================================================================
// The widest float and double vectors of this level.
#if defined(__AVX512F__)
using Wide = F16;
using WideDouble = D8;
#elif defined(__AVX2__)
using Wide = F8;
using WideDouble = D4;
#else
using Wide = F4;
using WideDouble = D2;
#endif
} // namespace simd::KTO_SIMD_LEVEL
