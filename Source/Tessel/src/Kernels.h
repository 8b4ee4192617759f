#pragma once

#include "SimdLevel.h"

// The routines that exist once per vector level. Each is compiled for SSE2, AVX2 and AVX-512F
// into namespace simd::<level>; the rest of the core calls them through the table of the level
// in use, so that every level gives the same bits.
struct VectorKernels
{
    // In-place split-radix transform of a supported size (see Fft.h); the tables must be filled.
    void (*fft) (float* data, int size, bool inverse);
    // The forward transform of a block whose second half is zero, without reading that half.
    void (*fftForwardPadded) (float* data, int size);
    // slot[2i] = flush (scale x re[i]), slot[2i + 1] = flush (scale x im[i]), or 0 without im,
    // where flush makes +0 of every value that is not finite or below 2^-54 in magnitude. Returns
    // whether any flushed value exceeds floor in magnitude.
    bool (*pack) (float* slot, const float* re, const float* im, int count, float scale, float floor);
    // out[i] = part (0 real, 1 imaginary) of values[i] + overlap[i], then overlap[i] = the same
    // part of values[count + i].
    void (*overlapAdd) (const float* values, int part, float* overlap, float* out, int count);
    // acc (+)= a[0] x b[0] + a[1] x b[1] + ... over count floats of interleaved complex values
    // (count a multiple of 8), products added in that order; with store the first is stored.
    void (*multiplyAccumulate) (float* acc, const float* const* a, const float* const* b, int pairs, int count, bool store);
    // out[j] = sum over m < numTaps of taps[m] x window[j + m], in double, rounded once. The taps
    // from soundingTaps on are zero.
    void (*directForm) (const float* taps, int numTaps, int soundingTaps, const float* window, float* out, int numSamples);
    // destination[i] += source[i]
    void (*addSamples) (float* destination, const float* source, int count);
};

// The table of the level in use (chosen on first use, see SimdLevel.h).
const VectorKernels& vectorKernels();

#define KTO_DECLARE_KERNELS(level)                                                                                \
    namespace simd::level                                                                                         \
    {                                                                                                             \
        void fftTransform (float* data, int size, bool inverse);                                                  \
        void fftForwardPadded (float* data, int size);                                                            \
        bool pack (float* slot, const float* re, const float* im, int count, float scale, float floor);           \
        void overlapAdd (const float* values, int part, float* overlap, float* out, int count);                   \
        void multiplyAccumulate (float* acc, const float* const* a, const float* const* b, int pairs, int count,  \
                                 bool store);                                                                     \
        void directForm (const float* taps, int numTaps, int soundingTaps, const float* window, float* out,       \
                         int numSamples);                                                                         \
        void addSamples (float* destination, const float* source, int count);                                     \
    }

KTO_DECLARE_KERNELS (sse2)
KTO_DECLARE_KERNELS (avx2)
KTO_DECLARE_KERNELS (avx512)
