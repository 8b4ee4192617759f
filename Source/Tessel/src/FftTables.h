#pragma once

#include "Fft.h"

// Twiddles of every pass size n from 8 to 32768 spelled out for vector loads: for butterflies
// m = 0 .. n/4 - 1, first n/2 floats of (cos, cos) pairs, then n/2 floats of (-sin, sin) pairs,
// each value bit for bit the one the size's table lookup gives (butterfly 0 holds (1, 0) and is
// never multiplied). Largest size first; 64-byte aligned. Filled by fftInitTables.
extern float fftPassTwiddles[];

constexpr int fftPassTwiddleFloats = 2 * fftLargestSize - 8; // the sizes 32768 + 16384 + ... + 8
constexpr int fftPassTwiddleOffset (int n) { return 2 * fftLargestSize - 2 * n; }
