#pragma once

// In-place complex FFT of 32-bit float data for the power-of-two sizes 2 to 32768.
//
// A block of N complex values is 2N floats, real part first. The forward transform takes
// natural order and leaves bin rho_N(p) at position p (split-radix order: even bins in the
// half-size order first, then bins 4j - 1, then bins 4j + 1); the inverse takes that order and
// returns natural order. Neither direction scales, so inverse(forward(x)) = N x. Spectra are
// only ever multiplied position by position, so the order never needs undoing.

// The largest size transformed.
constexpr int fftLargestSize = 32768;

// Fills the process-wide twiddle tables on the first call; later calls return at once. Safe to
// call from several threads at the same time: no caller returns before the tables are complete.
// Callers run it before their first transform; a transform that finds the tables empty fills them.
void fftInitTables();

// Transforms size complex values at data in place; inverse 0 is forward, anything else inverse.
// Sizes other than 2, 4, 8, ..., 32768 leave the data unchanged. Neither allocates nor recurses.
void fftTransform (float* data, int size, int inverse);

// The forward transform of a block whose values size/2 .. size - 1 are zero: that half is neither
// read nor needs setting, and the result is the one fftTransform (data, size, 0) gives.
void fftForwardPadded (float* data, int size);

// Read-only view of the twiddle table of a size from 16 to 32768 (pairs of cos, sin); stores the
// number of entries in entries when it is not null. Returns null for any other size.
const float* fftTwiddleTable (int size, int* entries);
