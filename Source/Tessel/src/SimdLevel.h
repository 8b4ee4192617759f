#pragma once

// The vector level the core runs at. It is chosen once, on first use, as the widest level the
// CPU and the operating system support; the environment variable KTO_SIMD ("sse2", "avx2" or
// "avx512") can hold it lower. Every level gives the same bits, so the choice changes speed only.
enum class SimdLevel
{
    sse2,
    avx2,
    avx512
};

// The level in use.
SimdLevel simdLevel();
// Switches to level when this machine runs it and returns whether it did. For tests and
// benchmarks, while nothing is being processed.
bool simdUseLevel (SimdLevel level);
// Whether this machine runs level.
bool simdSupports (SimdLevel level);
const char* simdLevelName (SimdLevel level);
