#include "Fft.h"

#include <atomic>
#include <cstdint>
#include <cmath>
#include <mutex>

#include <emmintrin.h>

namespace
{
// All twelve tables in one array, smallest size first: 16 has 3 entries, 32..512 have N/4 - 1,
// 1024..32768 have N/8 - 1 (the rest of their quarter circle follows by symmetry).
constexpr int kTableFloats = 2 * 8304;
float twiddles[kTableFloats];
std::atomic<bool> tablesReady { false };

constexpr int entriesOf (int size) { return size == 16 ? 3 : (size <= 512 ? size / 4 - 1 : size / 8 - 1); }

constexpr int offsetOf (int size)
{
    int offset = 0;
    for (int n = 16; n < size; n *= 2)
        offset += 2 * entriesOf (n);
    return offset;
}

static_assert (offsetOf (65536) == kTableFloats, "table layout");

template <int N>
const float* table() { return twiddles + offsetOf (N); }

inline const float* sqrtHalf() { return twiddles + 2; } // entry 1 of the 16-point table

//==============================================================================
// Sizes 2 and 4, scalar.
inline void transform2 (float* x)
{
    const float r = x[0] - x[2], i = x[1] - x[3];
    x[0] += x[2]; x[1] += x[3];
    x[2] = r; x[3] = i;
}

inline void forward4 (float* x)
{
    const float t1r = x[0] - x[4], t1i = x[1] - x[5];
    const float t2r = x[2] - x[6], t2i = x[3] - x[7];
    x[0] += x[4]; x[1] += x[5];
    x[2] += x[6]; x[3] += x[7];
    x[4] = t1r - t2i; x[5] = t1i + t2r; // (a - c) + i (b - d)
    x[6] = t1r + t2i; x[7] = t1i - t2r; // (a - c) - i (b - d)
    transform2 (x);
}

inline void inverse4 (float* x)
{
    transform2 (x);
    const float sr = x[4] + x[6], si = x[5] + x[7];
    const float tr = x[4] - x[6], ti = x[5] - x[7];
    const float ar = x[0], ai = x[1], br = x[2], bi = x[3];
    x[0] = ar + sr; x[1] = ai + si;
    x[4] = ar - sr; x[5] = ai - si;
    x[2] = br + ti; x[3] = bi - tr; // b - i (c - d)
    x[6] = br - ti; x[7] = bi + tr; // b + i (c - d)
}

//==============================================================================
// Vector arithmetic on two interleaved complex values per register (re, im, re, im). Every lane
// does the scalar operations in the scalar order (a - b as a + (-b) is the same rounding), so the
// results equal the scalar definition.
inline __m128 signMask (int r0, int i0, int r1, int i1)
{
    return _mm_castsi128_ps (_mm_setr_epi32 (r0 ? INT32_MIN : 0, i0 ? INT32_MIN : 0, r1 ? INT32_MIN : 0, i1 ? INT32_MIN : 0));
}

inline __m128 swapReIm (__m128 z) { return _mm_shuffle_ps (z, z, _MM_SHUFFLE (2, 3, 0, 1)); }

inline __m128 timesI (__m128 z) { return _mm_xor_ps (swapReIm (z), signMask (1, 0, 1, 0)); }

// z times w: (c re - s im, c im + s re); w holds (c, s) for both values.
inline __m128 mulW (__m128 z, __m128 w)
{
    const __m128 c = _mm_shuffle_ps (w, w, _MM_SHUFFLE (2, 2, 0, 0));
    const __m128 s = _mm_shuffle_ps (w, w, _MM_SHUFFLE (3, 3, 1, 1));
    return _mm_add_ps (_mm_mul_ps (c, z), _mm_xor_ps (_mm_mul_ps (s, swapReIm (z)), signMask (1, 0, 1, 0)));
}

// z times conj(w): (c re + s im, c im - s re).
inline __m128 mulConjW (__m128 z, __m128 w)
{
    const __m128 c = _mm_shuffle_ps (w, w, _MM_SHUFFLE (2, 2, 0, 0));
    const __m128 s = _mm_shuffle_ps (w, w, _MM_SHUFFLE (3, 3, 1, 1));
    return _mm_add_ps (_mm_mul_ps (c, z), _mm_xor_ps (_mm_mul_ps (s, swapReIm (z)), signMask (0, 1, 0, 1)));
}

// Keeps the first value of plain and the second of product: butterfly 0 takes no twiddle.
inline __m128 firstPlain (__m128 plain, __m128 product) { return _mm_shuffle_ps (plain, product, _MM_SHUFFLE (3, 2, 1, 0)); }

// Forward butterflies m and m + 1 of a pass; first says the pair starts at butterfly 0.
template <bool first>
inline void forwardPair (__m128& a, __m128& b, __m128& c, __m128& d, __m128 w)
{
    const __m128 t1 = _mm_sub_ps (a, c);
    const __m128 it2 = timesI (_mm_sub_ps (b, d));
    const __m128 u = _mm_add_ps (t1, it2); // (a - c) + i (b - d)
    const __m128 v = _mm_sub_ps (t1, it2); // (a - c) - i (b - d)
    a = _mm_add_ps (a, c);
    b = _mm_add_ps (b, d);
    c = first ? firstPlain (u, mulW (u, w)) : mulW (u, w);
    d = first ? firstPlain (v, mulConjW (v, w)) : mulConjW (v, w);
}

template <bool first>
inline void inversePair (__m128& a, __m128& b, __m128& c, __m128& d, __m128 w)
{
    const __m128 cw = first ? firstPlain (c, mulConjW (c, w)) : mulConjW (c, w);
    const __m128 dw = first ? firstPlain (d, mulW (d, w)) : mulW (d, w);
    const __m128 s = _mm_add_ps (cw, dw);
    const __m128 it = timesI (_mm_sub_ps (cw, dw));
    const __m128 a0 = a;
    a = _mm_add_ps (a0, s);
    c = _mm_sub_ps (a0, s);
    const __m128 b0 = b;
    b = _mm_sub_ps (b0, it);
    d = _mm_add_ps (b0, it);
}

// Size-2 transform of the two values in a register: (x0 + x1, x0 - x1).
inline __m128 pair2 (__m128 v)
{
    return _mm_add_ps (_mm_movelh_ps (v, v), _mm_xor_ps (_mm_movehl_ps (v, v), signMask (0, 0, 1, 1)));
}

// Size-4 forward transform of (a, b) in p and (c, d) in q.
inline void forward4 (__m128& p, __m128& q)
{
    const __m128 s = _mm_add_ps (p, q); // (a + c, b + d)
    const __m128 d = _mm_sub_ps (p, q); // (a - c, b - d)
    p = pair2 (s);
    // ((a - c) + i (b - d), (a - c) - i (b - d))
    q = _mm_add_ps (_mm_movelh_ps (d, d), _mm_xor_ps (_mm_shuffle_ps (d, d, _MM_SHUFFLE (2, 3, 2, 3)), signMask (1, 0, 0, 1)));
}

inline void inverse4 (__m128& p, __m128& q)
{
    const __m128 ab = pair2 (p);
    const __m128 st = pair2 (q); // (c + d, c - d)
    // (s, -i t): a + s and b - i t in the first register, a - s and b + i t in the second.
    const __m128 r = _mm_xor_ps (_mm_shuffle_ps (st, st, _MM_SHUFFLE (2, 3, 1, 0)), signMask (0, 0, 0, 1));
    p = _mm_add_ps (ab, r);
    q = _mm_sub_ps (ab, r);
}

inline void forward8 (__m128& v0, __m128& v1, __m128& v2, __m128& v3)
{
    forwardPair<true> (v0, v1, v2, v3, _mm_set1_ps (sqrtHalf()[0]));
    v2 = pair2 (v2);
    v3 = pair2 (v3);
    forward4 (v0, v1);
}

inline void inverse8 (__m128& v0, __m128& v1, __m128& v2, __m128& v3)
{
    inverse4 (v0, v1);
    v2 = pair2 (v2);
    v3 = pair2 (v3);
    inversePair<true> (v0, v1, v2, v3, _mm_set1_ps (sqrtHalf()[0]));
}

//==============================================================================
void fftForward8 (float* x)
{
    __m128 v0 = _mm_loadu_ps (x), v1 = _mm_loadu_ps (x + 4), v2 = _mm_loadu_ps (x + 8), v3 = _mm_loadu_ps (x + 12);
    forward8 (v0, v1, v2, v3);
    _mm_storeu_ps (x, v0);
    _mm_storeu_ps (x + 4, v1);
    _mm_storeu_ps (x + 8, v2);
    _mm_storeu_ps (x + 12, v3);
}

void fftInverse8 (float* x)
{
    __m128 v0 = _mm_loadu_ps (x), v1 = _mm_loadu_ps (x + 4), v2 = _mm_loadu_ps (x + 8), v3 = _mm_loadu_ps (x + 12);
    inverse8 (v0, v1, v2, v3);
    _mm_storeu_ps (x, v0);
    _mm_storeu_ps (x + 4, v1);
    _mm_storeu_ps (x + 8, v2);
    _mm_storeu_ps (x + 12, v3);
}

void fftForward16 (float* x)
{
    __m128 v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = _mm_loadu_ps (x + 4 * i);
    const __m128 w = _mm_loadu_ps (table<16>()); // entries 0 and 1
    forwardPair<true> (v[0], v[2], v[4], v[6], _mm_shuffle_ps (w, w, _MM_SHUFFLE (1, 0, 1, 0)));
    forwardPair<false> (v[1], v[3], v[5], v[7], _mm_loadu_ps (table<16>() + 2));
    forward4 (v[4], v[5]);
    forward4 (v[6], v[7]);
    forward8 (v[0], v[1], v[2], v[3]);
    for (int i = 0; i < 8; ++i)
        _mm_storeu_ps (x + 4 * i, v[i]);
}

void fftInverse16 (float* x)
{
    __m128 v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = _mm_loadu_ps (x + 4 * i);
    inverse8 (v[0], v[1], v[2], v[3]);
    inverse4 (v[4], v[5]);
    inverse4 (v[6], v[7]);
    const __m128 w = _mm_loadu_ps (table<16>());
    inversePair<true> (v[0], v[2], v[4], v[6], _mm_shuffle_ps (w, w, _MM_SHUFFLE (1, 0, 1, 0)));
    inversePair<false> (v[1], v[3], v[5], v[7], _mm_loadu_ps (table<16>() + 2));
    for (int i = 0; i < 8; ++i)
        _mm_storeu_ps (x + 4 * i, v[i]);
}

//==============================================================================
// The passes work on four butterflies at a time: the sums a + c and b + d stay interleaved, the
// differences are split into real and imaginary registers for the twiddle products. The
// operations per value are the scalar ones, in the scalar order.
struct Split
{
    __m128 re, im;
};

inline Split deinterleave (__m128 lo, __m128 hi)
{
    return { _mm_shuffle_ps (lo, hi, _MM_SHUFFLE (2, 0, 2, 0)), _mm_shuffle_ps (lo, hi, _MM_SHUFFLE (3, 1, 3, 1)) };
}

inline void storeInterleaved (float* x, __m128 re, __m128 im)
{
    _mm_storeu_ps (x, _mm_unpacklo_ps (re, im));
    _mm_storeu_ps (x + 4, _mm_unpackhi_ps (re, im));
}

// Butterflies m .. m + 3 at x (element m), quarters q floats apart, twiddles (wc, ws) split;
// first says m is 0, whose butterfly takes no twiddle.
template <bool first>
inline void forwardGroup (float* x, int q, __m128 wc, __m128 ws)
{
    const __m128 a0 = _mm_loadu_ps (x), a1 = _mm_loadu_ps (x + 4);
    const __m128 b0 = _mm_loadu_ps (x + q), b1 = _mm_loadu_ps (x + q + 4);
    const __m128 c0 = _mm_loadu_ps (x + 2 * q), c1 = _mm_loadu_ps (x + 2 * q + 4);
    const __m128 d0 = _mm_loadu_ps (x + 3 * q), d1 = _mm_loadu_ps (x + 3 * q + 4);
    _mm_storeu_ps (x, _mm_add_ps (a0, c0));
    _mm_storeu_ps (x + 4, _mm_add_ps (a1, c1));
    _mm_storeu_ps (x + q, _mm_add_ps (b0, d0));
    _mm_storeu_ps (x + q + 4, _mm_add_ps (b1, d1));
    const Split t1 = deinterleave (_mm_sub_ps (a0, c0), _mm_sub_ps (a1, c1));
    const Split t2 = deinterleave (_mm_sub_ps (b0, d0), _mm_sub_ps (b1, d1));
    const __m128 ur = _mm_sub_ps (t1.re, t2.im), ui = _mm_add_ps (t1.im, t2.re); // (a - c) + i (b - d)
    const __m128 vr = _mm_add_ps (t1.re, t2.im), vi = _mm_sub_ps (t1.im, t2.re); // (a - c) - i (b - d)
    __m128 cr = _mm_sub_ps (_mm_mul_ps (wc, ur), _mm_mul_ps (ws, ui));
    __m128 ci = _mm_add_ps (_mm_mul_ps (wc, ui), _mm_mul_ps (ws, ur));
    __m128 dr = _mm_add_ps (_mm_mul_ps (wc, vr), _mm_mul_ps (ws, vi));
    __m128 di = _mm_sub_ps (_mm_mul_ps (wc, vi), _mm_mul_ps (ws, vr));
    if constexpr (first)
    {
        cr = _mm_move_ss (cr, ur);
        ci = _mm_move_ss (ci, ui);
        dr = _mm_move_ss (dr, vr);
        di = _mm_move_ss (di, vi);
    }
    storeInterleaved (x + 2 * q, cr, ci);
    storeInterleaved (x + 3 * q, dr, di);
}

template <bool first>
inline void inverseGroup (float* x, int q, __m128 wc, __m128 ws)
{
    const Split c = deinterleave (_mm_loadu_ps (x + 2 * q), _mm_loadu_ps (x + 2 * q + 4));
    const Split d = deinterleave (_mm_loadu_ps (x + 3 * q), _mm_loadu_ps (x + 3 * q + 4));
    __m128 cr = _mm_add_ps (_mm_mul_ps (wc, c.re), _mm_mul_ps (ws, c.im)); // c times conj(w)
    __m128 ci = _mm_sub_ps (_mm_mul_ps (wc, c.im), _mm_mul_ps (ws, c.re));
    __m128 dr = _mm_sub_ps (_mm_mul_ps (wc, d.re), _mm_mul_ps (ws, d.im)); // d times w
    __m128 di = _mm_add_ps (_mm_mul_ps (wc, d.im), _mm_mul_ps (ws, d.re));
    if constexpr (first)
    {
        cr = _mm_move_ss (cr, c.re);
        ci = _mm_move_ss (ci, c.im);
        dr = _mm_move_ss (dr, d.re);
        di = _mm_move_ss (di, d.im);
    }
    const __m128 sr = _mm_add_ps (cr, dr), si = _mm_add_ps (ci, di);
    const __m128 tr = _mm_sub_ps (cr, dr), ti = _mm_sub_ps (ci, di);
    const __m128 negTr = _mm_xor_ps (tr, _mm_set1_ps (-0.0f));
    const __m128 s0 = _mm_unpacklo_ps (sr, si), s1 = _mm_unpackhi_ps (sr, si);
    const __m128 m0 = _mm_unpacklo_ps (ti, negTr), m1 = _mm_unpackhi_ps (ti, negTr); // -i (c - d)
    const __m128 a0 = _mm_loadu_ps (x), a1 = _mm_loadu_ps (x + 4);
    const __m128 b0 = _mm_loadu_ps (x + q), b1 = _mm_loadu_ps (x + q + 4);
    _mm_storeu_ps (x, _mm_add_ps (a0, s0));
    _mm_storeu_ps (x + 4, _mm_add_ps (a1, s1));
    _mm_storeu_ps (x + 2 * q, _mm_sub_ps (a0, s0));
    _mm_storeu_ps (x + 2 * q + 4, _mm_sub_ps (a1, s1));
    _mm_storeu_ps (x + q, _mm_add_ps (b0, m0));
    _mm_storeu_ps (x + q + 4, _mm_add_ps (b1, m1));
    _mm_storeu_ps (x + 3 * q, _mm_sub_ps (b0, m0));
    _mm_storeu_ps (x + 3 * q + 4, _mm_sub_ps (b1, m1));
}

// Twiddles of butterflies m .. m + 3 from table entries m - 1 .. m + 2.
inline Split forwardTwiddles (const float* w, int m)
{
    return deinterleave (_mm_loadu_ps (w + 2 * m - 2), _mm_loadu_ps (w + 2 * m + 2));
}

// Twiddles of butterflies m .. m + 3 from entries k .. k - 3 (k = N/4 - m - 1) read backward
// with cos and sin exchanged.
inline Split mirroredTwiddles (const float* w, int k)
{
    const __m128 lo = _mm_loadu_ps (w + 2 * k - 6); // entries k - 3, k - 2
    const __m128 hi = _mm_loadu_ps (w + 2 * k - 2); // entries k - 1, k
    return { _mm_shuffle_ps (hi, lo, _MM_SHUFFLE (1, 3, 1, 3)), _mm_shuffle_ps (hi, lo, _MM_SHUFFLE (0, 2, 0, 2)) };
}

// Twiddles of butterflies 0 .. 3 (butterfly 0's lane is unused).
inline Split firstTwiddles (const float* w)
{
    return { _mm_setr_ps (1.0f, w[0], w[2], w[4]), _mm_setr_ps (0.0f, w[1], w[3], w[5]) };
}

// One butterfly group of either direction.
template <bool forward, bool first>
inline void butterflyGroup (float* x, int q, __m128 wc, __m128 ws)
{
    if constexpr (forward)
        forwardGroup<first> (x, q, wc, ws);
    else
        inverseGroup<first> (x, q, wc, ws);
}

// Passes of size N = 8 * count, from butterfly 0 upward.
template <bool forward>
void pass (float* x, const float* w, int count)
{
    const int q = 4 * count;
    const Split w0 = firstTwiddles (w);
    butterflyGroup<forward, true> (x, q, w0.re, w0.im);
    for (int m = 4; m < 2 * count; m += 4)
    {
        const Split t = forwardTwiddles (w, m);
        butterflyGroup<forward, false> (x + 2 * m, q, t.re, t.im);
    }
}

// Large passes read the first eighth of the circle forward, then backward with cos and sin
// exchanged (theta = pi/2 - 2 pi (N/4 - m) / N). count is a multiple of 4, so the groups fall
// as 0 .. count - 1 forward, count .. count + 3 across the eighth (sqrt(1/2) for m = N/8),
// then backward up to 2 count - 1.
inline Split middleTwiddles (const float* w, int count)
{
    const float h = sqrtHalf()[0];
    return { _mm_setr_ps (h, w[2 * count - 3], w[2 * count - 5], w[2 * count - 7]),
             _mm_setr_ps (h, w[2 * count - 4], w[2 * count - 6], w[2 * count - 8]) };
}

template <bool forward>
void passLarge (float* x, const float* w, int count)
{
    const int q = 4 * count;
    const Split w0 = firstTwiddles (w);
    butterflyGroup<forward, true> (x, q, w0.re, w0.im);
    for (int m = 4; m < count; m += 4)
    {
        const Split t = forwardTwiddles (w, m);
        butterflyGroup<forward, false> (x + 2 * m, q, t.re, t.im);
    }
    const Split middle = middleTwiddles (w, count);
    butterflyGroup<forward, false> (x + 2 * count, q, middle.re, middle.im);
    for (int m = count + 4; m < 2 * count; m += 4)
    {
        const Split t = mirroredTwiddles (w, 2 * count - m - 1);
        butterflyGroup<forward, false> (x + 2 * m, q, t.re, t.im);
    }
}

void fftForwardPass (float* x, const float* w, int count) { pass<true> (x, w, count); }
void fftInversePass (float* x, const float* w, int count) { pass<false> (x, w, count); }
void fftForwardPassLarge (float* x, const float* w, int count) { passLarge<true> (x, w, count); }
void fftInversePassLarge (float* x, const float* w, int count) { passLarge<false> (x, w, count); }

//==============================================================================
// The recursion expanded at compile time into a fixed call sequence per size; sizes 16 and 8
// end every branch.
template <int N>
struct Sequence
{
    static void forward (float* x)
    {
        if constexpr (N <= 512)
            fftForwardPass (x, table<N>(), N / 8);
        else
            fftForwardPassLarge (x, table<N>(), N / 8);
        Sequence<N / 4>::forward (x + N);
        Sequence<N / 4>::forward (x + 3 * N / 2);
        Sequence<N / 2>::forward (x);
    }

    static void inverse (float* x)
    {
        Sequence<N / 2>::inverse (x);
        Sequence<N / 4>::inverse (x + N);
        Sequence<N / 4>::inverse (x + 3 * N / 2);
        if constexpr (N <= 512)
            fftInversePass (x, table<N>(), N / 8);
        else
            fftInversePassLarge (x, table<N>(), N / 8);
    }
};

template <>
struct Sequence<16>
{
    static void forward (float* x) { fftForward16 (x); }
    static void inverse (float* x) { fftInverse16 (x); }
};

template <>
struct Sequence<8>
{
    static void forward (float* x) { fftForward8 (x); }
    static void inverse (float* x) { fftInverse8 (x); }
};

template <int N>
void run (float* x, bool inverse)
{
    if (inverse)
        Sequence<N>::inverse (x);
    else
        Sequence<N>::forward (x);
}

void fillTables()
{
    float* t16 = twiddles;
    t16[0] = 0.9238795f;  t16[1] = 0.38268343f;
    t16[2] = 0.70710677f; t16[3] = 0.70710677f;
    t16[4] = 0.38268343f; t16[5] = 0.9238795f;

    for (int n = 32; n <= 32768; n *= 2)
    {
        float* t = twiddles + offsetOf (n);
        const float* half = twiddles + offsetOf (n / 2);
        const double step = 2.0 * 3.141592653589793 / n;
        for (int k = 0; k < entriesOf (n); ++k)
        {
            if (k % 2 == 1)
            {
                // Same angle as entry (k - 1) / 2 of the half-size table: copy it bit for bit.
                t[2 * k] = half[k - 1];
                t[2 * k + 1] = half[k];
            }
            else
            {
                const double theta = (k + 1) * step;
                t[2 * k] = static_cast<float> (std::cos (theta));
                t[2 * k + 1] = static_cast<float> (std::sin (theta));
            }
        }
    }
}
} // namespace

void fftInitTables()
{
    if (tablesReady.load (std::memory_order_acquire))
        return;
    static std::once_flag once;
    std::call_once (once, [] {
        fillTables();
        tablesReady.store (true, std::memory_order_release);
    });
}

const float* fftTwiddleTable (int size, int* entries)
{
    if (size < 16 || size > 32768 || (size & (size - 1)) != 0)
        return nullptr;
    if (entries != nullptr)
        *entries = entriesOf (size);
    return twiddles + offsetOf (size);
}

void fftTransform (float* data, int size, int inverse)
{
    // Callers initialise first; a caller that did not still gets filled, visible tables rather
    // than zeros or a race with a filling thread. Once filled this is one acquire load.
    if (size >= 8 && ! tablesReady.load (std::memory_order_acquire))
        fftInitTables();
    const bool inv = inverse != 0;
    switch (size)
    {
        case 2: transform2 (data); break;
        case 4: inv ? inverse4 (data) : forward4 (data); break;
        case 8: inv ? fftInverse8 (data) : fftForward8 (data); break;
        case 16: inv ? fftInverse16 (data) : fftForward16 (data); break;
        case 32: run<32> (data, inv); break;
        case 64: run<64> (data, inv); break;
        case 128: run<128> (data, inv); break;
        case 256: run<256> (data, inv); break;
        case 512: run<512> (data, inv); break;
        case 1024: run<1024> (data, inv); break;
        case 2048: run<2048> (data, inv); break;
        case 4096: run<4096> (data, inv); break;
        case 8192: run<8192> (data, inv); break;
        case 16384: run<16384> (data, inv); break;
        case 32768: run<32768> (data, inv); break;
        default: break;
    }
}
