#include "Fft.h"

#include <atomic>
#include <cmath>
#include <mutex>

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
// Butterflies. m indexes the first element of each quarter; q is the quarter length in floats.
inline void forwardButterfly0 (float* x, int q)
{
    float* a = x;
    float* b = x + q;
    float* c = x + 2 * q;
    float* d = x + 3 * q;
    const float t1r = a[0] - c[0], t1i = a[1] - c[1];
    const float t2r = b[0] - d[0], t2i = b[1] - d[1];
    a[0] += c[0]; a[1] += c[1];
    b[0] += d[0]; b[1] += d[1];
    c[0] = t1r - t2i; c[1] = t1i + t2r;
    d[0] = t1r + t2i; d[1] = t1i - t2r;
}

inline void forwardButterfly (float* x, int q, float wc, float ws)
{
    float* a = x;
    float* b = x + q;
    float* c = x + 2 * q;
    float* d = x + 3 * q;
    const float t1r = a[0] - c[0], t1i = a[1] - c[1];
    const float t2r = b[0] - d[0], t2i = b[1] - d[1];
    a[0] += c[0]; a[1] += c[1];
    b[0] += d[0]; b[1] += d[1];
    const float ur = t1r - t2i, ui = t1i + t2r; // (a - c) + i (b - d)
    const float vr = t1r + t2i, vi = t1i - t2r; // (a - c) - i (b - d)
    c[0] = wc * ur - ws * ui; c[1] = wc * ui + ws * ur;
    d[0] = wc * vr + ws * vi; d[1] = wc * vi - ws * vr;
}

inline void inverseButterfly0 (float* x, int q)
{
    float* a = x;
    float* b = x + q;
    float* c = x + 2 * q;
    float* d = x + 3 * q;
    const float sr = c[0] + d[0], si = c[1] + d[1];
    const float tr = c[0] - d[0], ti = c[1] - d[1];
    const float ar = a[0], ai = a[1], br = b[0], bi = b[1];
    a[0] = ar + sr; a[1] = ai + si;
    c[0] = ar - sr; c[1] = ai - si;
    b[0] = br + ti; b[1] = bi - tr;
    d[0] = br - ti; d[1] = bi + tr;
}

inline void inverseButterfly (float* x, int q, float wc, float ws)
{
    float* a = x;
    float* b = x + q;
    float* c = x + 2 * q;
    float* d = x + 3 * q;
    const float cr = wc * c[0] + ws * c[1], ci = wc * c[1] - ws * c[0]; // c times conj(w)
    const float dr = wc * d[0] - ws * d[1], di = wc * d[1] + ws * d[0]; // d times w
    const float sr = cr + dr, si = ci + di;
    const float tr = cr - dr, ti = ci - di;
    const float ar = a[0], ai = a[1], br = b[0], bi = b[1];
    a[0] = ar + sr; a[1] = ai + si;
    c[0] = ar - sr; c[1] = ai - si;
    b[0] = br + ti; b[1] = bi - tr;
    d[0] = br - ti; d[1] = bi + tr;
}

inline void transform2 (float* x)
{
    const float r = x[0] - x[2], i = x[1] - x[3];
    x[0] += x[2]; x[1] += x[3];
    x[2] = r; x[3] = i;
}

inline void forward4 (float* x)
{
    forwardButterfly0 (x, 2);
    transform2 (x);
}

inline void inverse4 (float* x)
{
    transform2 (x);
    inverseButterfly0 (x, 2);
}

//==============================================================================
void fftForward8 (float* x)
{
    const float h = sqrtHalf()[0];
    forwardButterfly0 (x, 4);
    forwardButterfly (x + 2, 4, h, h);
    transform2 (x + 8);
    transform2 (x + 12);
    forward4 (x);
}

void fftInverse8 (float* x)
{
    const float h = sqrtHalf()[0];
    inverse4 (x);
    transform2 (x + 8);
    transform2 (x + 12);
    inverseButterfly0 (x, 4);
    inverseButterfly (x + 2, 4, h, h);
}

void fftForward16 (float* x)
{
    const float* w = table<16>();
    forwardButterfly0 (x, 8);
    for (int m = 1; m < 4; ++m)
        forwardButterfly (x + 2 * m, 8, w[2 * m - 2], w[2 * m - 1]);
    forward4 (x + 16);
    forward4 (x + 24);
    fftForward8 (x);
}

void fftInverse16 (float* x)
{
    const float* w = table<16>();
    fftInverse8 (x);
    inverse4 (x + 16);
    inverse4 (x + 24);
    inverseButterfly0 (x, 8);
    for (int m = 1; m < 4; ++m)
        inverseButterfly (x + 2 * m, 8, w[2 * m - 2], w[2 * m - 1]);
}

// Passes of size N = 8 * count; butterflies 0 and 1 first, then two per iteration.
void fftForwardPass (float* x, const float* w, int count)
{
    const int q = 4 * count;
    forwardButterfly0 (x, q);
    forwardButterfly (x + 2, q, w[0], w[1]);
    for (int m = 2; m < 2 * count; m += 2)
    {
        forwardButterfly (x + 2 * m, q, w[2 * m - 2], w[2 * m - 1]);
        forwardButterfly (x + 2 * m + 2, q, w[2 * m], w[2 * m + 1]);
    }
}

void fftInversePass (float* x, const float* w, int count)
{
    const int q = 4 * count;
    inverseButterfly0 (x, q);
    inverseButterfly (x + 2, q, w[0], w[1]);
    for (int m = 2; m < 2 * count; m += 2)
    {
        inverseButterfly (x + 2 * m, q, w[2 * m - 2], w[2 * m - 1]);
        inverseButterfly (x + 2 * m + 2, q, w[2 * m], w[2 * m + 1]);
    }
}

// Large passes read the first eighth of the circle forward, then backward with cos and sin
// exchanged (theta = pi/2 - 2 pi (N/4 - m) / N). count is even, so the pairs fall as
// (0, 1), (2, 3) .. (count - 2, count - 1) forward, (count, count + 1) across the eighth,
// then backward up to (2 count - 2, 2 count - 1).
void fftForwardPassLarge (float* x, const float* w, int count)
{
    const int q = 4 * count;
    const float h = sqrtHalf()[0];
    forwardButterfly0 (x, q);
    forwardButterfly (x + 2, q, w[0], w[1]);
    for (int m = 2; m < count; m += 2)
    {
        forwardButterfly (x + 2 * m, q, w[2 * m - 2], w[2 * m - 1]);
        forwardButterfly (x + 2 * m + 2, q, w[2 * m], w[2 * m + 1]);
    }
    forwardButterfly (x + 2 * count, q, h, h);
    forwardButterfly (x + 2 * count + 2, q, w[2 * count - 3], w[2 * count - 4]);
    for (int m = count + 2; m < 2 * count; m += 2)
    {
        const int k = 2 * count - m - 1;
        forwardButterfly (x + 2 * m, q, w[2 * k + 1], w[2 * k]);
        forwardButterfly (x + 2 * m + 2, q, w[2 * k - 1], w[2 * k - 2]);
    }
}

void fftInversePassLarge (float* x, const float* w, int count)
{
    const int q = 4 * count;
    const float h = sqrtHalf()[0];
    inverseButterfly0 (x, q);
    inverseButterfly (x + 2, q, w[0], w[1]);
    for (int m = 2; m < count; m += 2)
    {
        inverseButterfly (x + 2 * m, q, w[2 * m - 2], w[2 * m - 1]);
        inverseButterfly (x + 2 * m + 2, q, w[2 * m], w[2 * m + 1]);
    }
    inverseButterfly (x + 2 * count, q, h, h);
    inverseButterfly (x + 2 * count + 2, q, w[2 * count - 3], w[2 * count - 4]);
    for (int m = count + 2; m < 2 * count; m += 2)
    {
        const int k = 2 * count - m - 1;
        inverseButterfly (x + 2 * m, q, w[2 * k + 1], w[2 * k]);
        inverseButterfly (x + 2 * m + 2, q, w[2 * k - 1], w[2 * k - 2]);
    }
}

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
