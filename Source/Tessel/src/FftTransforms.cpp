// The split-radix transforms of every size, once per vector level. Sizes of 64 and below are
// transformed in registers; larger sizes run their passes over memory, widest vector first, and
// end every branch of the recursion in a 32- or 64-point leaf. Each butterfly computes exactly the
// scalar formulas, so the level and the grouping change nothing in the result.

#include "FftTables.h"
#include "Kernels.h"
#include "Simd.h"

namespace simd::KTO_SIMD_LEVEL
{
namespace
{
// Complex values per register.
template <class V>
constexpr int complexIn = V::lanes / 2;

// Twiddles of the butterflies m, m + 1, ... of a pass of size n: cos in both parts, and -sin, sin.
template <class V>
struct Twiddles
{
    V cos, sin;
};

template <class V>
KTO_INLINE Twiddles<V> twiddles (int n, int m)
{
    const float* t = fftPassTwiddles + fftPassTwiddleOffset (n) + 2 * m;
    return { V::load (t), V::load (t + n / 2) };
}

// z w = (cos re - sin im, cos im + sin re), z conj(w) = (cos re + sin im, cos im - sin re)
template <class V>
KTO_INLINE V times (V z, Twiddles<V> w) { return w.cos * z + w.sin * swapPairs (z); }
template <class V>
KTO_INLINE V timesConj (V z, Twiddles<V> w) { return w.cos * z - w.sin * swapPairs (z); }
// i z = (-im, re), -i z = (im, -re)
template <class V>
KTO_INLINE V timesI (V z) { return negateReal (swapPairs (z)); }
template <class V>
KTO_INLINE V timesMinusI (V z) { return negateImag (swapPairs (z)); }

// Butterflies m .. m + k - 1 of a pass of size n, with a, b, c, d the elements m, m + n/4, m + n/2
// and m + 3n/4. first: m is 0, whose butterfly takes no twiddle.
template <bool first, class V>
KTO_INLINE void forwardButterflies (V& a, V& b, V& c, V& d, Twiddles<V> w)
{
    const V t1 = a - c;
    const V t2 = timesI (b - d);
    const V u = t1 + t2; // (a - c) + i (b - d)
    const V v = t1 - t2; // (a - c) - i (b - d)
    a = a + c;
    b = b + d;
    c = first ? firstFrom (u, times (u, w)) : times (u, w);
    d = first ? firstFrom (v, timesConj (v, w)) : timesConj (v, w);
}

template <bool first, class V>
KTO_INLINE void inverseButterflies (V& a, V& b, V& c, V& d, Twiddles<V> w)
{
    const V cw = first ? firstFrom (c, timesConj (c, w)) : timesConj (c, w);
    const V dw = first ? firstFrom (d, times (d, w)) : times (d, w);
    const V s = cw + dw;
    const V t = timesMinusI (cw - dw); // -i (c - d)
    const V a0 = a, b0 = b;
    a = a0 + s;
    c = a0 - s;
    b = b0 + t; // b - i (c - d)
    d = b0 - t; // b + i (c - d)
}

//==============================================================================
// The 2- and 4-point transforms of two complex values per register.

// (x0 + x1, x0 - x1)
KTO_INLINE F4 transform2 (F4 x) { return shuffle<0, 1, 0, 1> (x, x) + flipSigns<0, 0, 1, 1> (shuffle<2, 3, 2, 3> (x, x)); }

// (a, b) in p and (c, d) in q.
KTO_INLINE void forward4 (F4& p, F4& q)
{
    const F4 s = p + q; // (a + c, b + d)
    const F4 d = p - q; // (a - c, b - d)
    p = transform2 (s);
    // ((a - c) + i (b - d), (a - c) - i (b - d))
    q = shuffle<0, 1, 0, 1> (d, d) + flipSigns<1, 0, 0, 1> (shuffle<3, 2, 3, 2> (d, d));
}

KTO_INLINE void inverse4 (F4& p, F4& q)
{
    const F4 ab = transform2 (p);
    const F4 st = transform2 (q); // (c + d, c - d)
    // (s, -i t): a + s and b - i t in the first register, a - s and b + i t in the second.
    const F4 r = flipSigns<0, 0, 0, 1> (shuffle<0, 1, 3, 2> (st, st));
    p = ab + r;
    q = ab - r;
}

//==============================================================================
// N complex values held in registers of type V, transformed in place. A pass whose quarter
// fills whole registers works register by register; below that the values move to registers of
// half the width.
template <int N, class V>
struct Transform
{
    static constexpr int k = complexIn<V>;
    static constexpr int count = N / k;
    static constexpr int q = N / 4 / k; // registers per quarter

    static KTO_INLINE void forward (V* x)
    {
        if constexpr (q == 0)
            narrowed<true> (x);
        else
        {
            forwardButterflies<true> (x[0], x[q], x[2 * q], x[3 * q], twiddles<V> (N, 0));
#pragma GCC unroll 16
            for (int j = 1; j < q; ++j)
                forwardButterflies<false> (x[j], x[j + q], x[j + 2 * q], x[j + 3 * q], twiddles<V> (N, j * k));
            Transform<N / 4, V>::forward (x + 2 * q);
            Transform<N / 4, V>::forward (x + 3 * q);
            Transform<N / 2, V>::forward (x);
        }
    }

    static KTO_INLINE void inverse (V* x)
    {
        if constexpr (q == 0)
            narrowed<false> (x);
        else
        {
            Transform<N / 2, V>::inverse (x);
            Transform<N / 4, V>::inverse (x + 2 * q);
            Transform<N / 4, V>::inverse (x + 3 * q);
            inverseButterflies<true> (x[0], x[q], x[2 * q], x[3 * q], twiddles<V> (N, 0));
#pragma GCC unroll 16
            for (int j = 1; j < q; ++j)
                inverseButterflies<false> (x[j], x[j + q], x[j + 2 * q], x[j + 3 * q], twiddles<V> (N, j * k));
        }
    }

    template <bool isForward>
    static KTO_INLINE void narrowed (V* x)
    {
        using H = typename V::Half;
        H h[2 * count];
#pragma GCC unroll 16
        for (int i = 0; i < count; ++i)
        {
            h[2 * i] = lowHalf (x[i]);
            h[2 * i + 1] = highHalf (x[i]);
        }
        if constexpr (isForward)
            Transform<N, H>::forward (h);
        else
            Transform<N, H>::inverse (h);
#pragma GCC unroll 16
        for (int i = 0; i < count; ++i)
            x[i] = join (h[2 * i], h[2 * i + 1]);
    }
};

template <>
struct Transform<4, F4>
{
    static KTO_INLINE void forward (F4* x) { forward4 (x[0], x[1]); }
    static KTO_INLINE void inverse (F4* x) { inverse4 (x[0], x[1]); }
};

template <>
struct Transform<2, F4>
{
    static KTO_INLINE void forward (F4* x) { x[0] = transform2 (x[0]); }
    static KTO_INLINE void inverse (F4* x) { x[0] = transform2 (x[0]); }
};

// A whole transform of N values in registers: load, transform, store.
template <int N, class V, bool isForward>
__attribute__ ((noinline)) void inRegisters (float* data)
{
    constexpr int count = N / complexIn<V>;
    V x[count];
#pragma GCC unroll 32
    for (int i = 0; i < count; ++i)
        x[i] = V::load (data + i * V::lanes);
    if constexpr (isForward)
        Transform<N, V>::forward (x);
    else
        Transform<N, V>::inverse (x);
#pragma GCC unroll 32
    for (int i = 0; i < count; ++i)
        x[i].store (data + i * V::lanes);
}

//==============================================================================
// One pass of size n over memory, k butterflies per step.
// padded: the second half is zero and is not read.
template <class V, bool isForward, bool first, bool padded = false>
KTO_INLINE void passGroup (float* x, int n, int m)
{
    const int quarter = n / 2; // floats
    float* p = x + 2 * m;
    V a = V::load (p), b = V::load (p + quarter);
    V c = padded ? V::zero() : V::load (p + 2 * quarter), d = padded ? V::zero() : V::load (p + 3 * quarter);
    if constexpr (isForward)
        forwardButterflies<first> (a, b, c, d, twiddles<V> (n, m));
    else
        inverseButterflies<first> (a, b, c, d, twiddles<V> (n, m));
    a.store (p);
    b.store (p + quarter);
    c.store (p + 2 * quarter);
    d.store (p + 3 * quarter);
}

template <class V, bool isForward, bool padded = false>
__attribute__ ((noinline)) void pass (float* x, int n)
{
    passGroup<V, isForward, true, padded> (x, n, 0);
    for (int m = complexIn<V>; m < n / 4; m += complexIn<V>)
        passGroup<V, isForward, false, padded> (x, n, m);
}

// The recursion, expanded at compile time: the pass of size N, the quarters, the half; sizes 64
// and 32 end every branch in registers.
template <int N>
struct Sequence
{
    template <bool padded = false>
    static void forward (float* x)
    {
        if constexpr (N <= 64)
            inRegisters<N, Wide, true> (x);
        else
        {
            pass<Wide, true, padded> (x, N);
            Sequence<N / 4>::forward (x + N);
            Sequence<N / 4>::forward (x + 3 * N / 2);
            Sequence<N / 2>::forward (x);
        }
    }

    static void inverse (float* x)
    {
        if constexpr (N <= 64)
            inRegisters<N, Wide, false> (x);
        else
        {
            Sequence<N / 2>::inverse (x);
            Sequence<N / 4>::inverse (x + N);
            Sequence<N / 4>::inverse (x + 3 * N / 2);
            pass<Wide, false> (x, N);
        }
    }
};

template <int N>
void run (float* x, bool inverse)
{
    if (inverse)
        Sequence<N>::inverse (x);
    else
        Sequence<N>::forward (x);
}

// Sizes 2 and 4, scalar.
void scalar2 (float* x)
{
    const float r = x[0] - x[2], i = x[1] - x[3];
    x[0] += x[2];
    x[1] += x[3];
    x[2] = r;
    x[3] = i;
}

void scalar4 (float* x, bool inverse)
{
    F4 p = F4::load (x), q = F4::load (x + 4);
    if (inverse)
        inverse4 (p, q);
    else
        forward4 (p, q);
    p.store (x);
    q.store (x + 4);
}

template <int N>
void small (float* x, bool inverse)
{
    if (inverse)
        inRegisters<N, F4, false> (x);
    else
        inRegisters<N, F4, true> (x);
}
} // namespace

void fftForwardPadded (float* data, int size)
{
    switch (size)
    {
        case 128: Sequence<128>::forward<true> (data); break;
        case 256: Sequence<256>::forward<true> (data); break;
        case 512: Sequence<512>::forward<true> (data); break;
        case 1024: Sequence<1024>::forward<true> (data); break;
        case 2048: Sequence<2048>::forward<true> (data); break;
        case 4096: Sequence<4096>::forward<true> (data); break;
        case 8192: Sequence<8192>::forward<true> (data); break;
        case 16384: Sequence<16384>::forward<true> (data); break;
        case 32768: Sequence<32768>::forward<true> (data); break;
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
        case 64:
            for (int i = size; i < 2 * size; ++i)
                data[i] = 0.0f;
            fftTransform (data, size, false);
            break;
        default: break;
    }
}

void fftTransform (float* data, int size, bool inverse)
{
    switch (size)
    {
        case 2: scalar2 (data); break;
        case 4: scalar4 (data, inverse); break;
        case 8: small<8> (data, inverse); break;
        case 16: small<16> (data, inverse); break;
        case 32: run<32> (data, inverse); break;
        case 64: run<64> (data, inverse); break;
        case 128: run<128> (data, inverse); break;
        case 256: run<256> (data, inverse); break;
        case 512: run<512> (data, inverse); break;
        case 1024: run<1024> (data, inverse); break;
        case 2048: run<2048> (data, inverse); break;
        case 4096: run<4096> (data, inverse); break;
        case 8192: run<8192> (data, inverse); break;
        case 16384: run<16384> (data, inverse); break;
        case 32768: run<32768> (data, inverse); break;
        default: break;
    }
}
} // namespace simd::KTO_SIMD_LEVEL
