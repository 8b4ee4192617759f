#include "Fft.h"

#include "FftTables.h"
#include "Kernels.h"

#include <atomic>
#include <cstdint>
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

void fillTables()
{
    float* t16 = twiddles;
    t16[0] = 0.9238795f;  t16[1] = 0.38268343f;
    t16[2] = 0.70710677f; t16[3] = 0.70710677f;
    t16[4] = 0.38268343f; t16[5] = 0.9238795f;

    for (int n = 32; n <= fftLargestSize; n *= 2)
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
// The twiddle of butterfly m of a pass of size n, as the size's table gives it: sizes up to 512
// (and 16) hold every butterfly, larger ones the first eighth of the circle, the rest following
// by symmetry; m = n/8 there is sqrt(1/2), and the 8-point pass needs only that.
void passTwiddle (int n, int m, float& c, float& s)
{
    const float* t16 = twiddles;
    if (m == 0)
    {
        c = 1.0f;
        s = 0.0f;
    }
    else if (n == 8 || (n >= 1024 && m == n / 8))
        c = s = t16[2];
    else if (n <= 512 || m < n / 8)
    {
        const float* t = twiddles + offsetOf (n);
        c = t[2 * (m - 1)];
        s = t[2 * (m - 1) + 1];
    }
    else
    {
        const float* t = twiddles + offsetOf (n);
        const int k = n / 4 - m - 1;
        c = t[2 * k + 1];
        s = t[2 * k];
    }
}

void fillPassTwiddles()
{
    for (int n = 8; n <= fftLargestSize; n *= 2)
    {
        float* cosines = fftPassTwiddles + fftPassTwiddleOffset (n);
        float* sines = cosines + n / 2;
        for (int m = 0; m < n / 4; ++m)
        {
            float c, s;
            passTwiddle (n, m, c, s);
            cosines[2 * m] = cosines[2 * m + 1] = c;
            sines[2 * m] = -s;
            sines[2 * m + 1] = s;
        }
    }
}
} // namespace

alignas (64) float fftPassTwiddles[fftPassTwiddleFloats];

void fftInitTables()
{
    if (tablesReady.load (std::memory_order_acquire))
        return;
    static std::once_flag once;
    std::call_once (once, [] {
        fillTables();
        fillPassTwiddles();
        vectorKernels();
        tablesReady.store (true, std::memory_order_release);
    });
}

void fftForwardPadded (float* data, int size)
{
    if (size >= 8 && ! tablesReady.load (std::memory_order_acquire))
        fftInitTables();
    vectorKernels().fftForwardPadded (data, size);
}

const float* fftTwiddleTable (int size, int* entries)
{
    if (size < 16 || size > fftLargestSize || (size & (size - 1)) != 0)
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
    vectorKernels().fft (data, size, inverse != 0);
}
