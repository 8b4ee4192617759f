#include "Kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace
{
#define KTO_KERNEL_TABLE(level)                                                                                        \
    VectorKernels                                                                                                      \
    {                                                                                                                  \
        simd::level::fftTransform, simd::level::fftForwardPadded, simd::level::pack, simd::level::overlapAdd, simd::level::multiplyAccumulate,     \
            simd::level::directForm, simd::level::addSamples                                                           \
    }

const VectorKernels tables[] = { KTO_KERNEL_TABLE (sse2), KTO_KERNEL_TABLE (avx2), KTO_KERNEL_TABLE (avx512) };

std::atomic<const VectorKernels*> active { nullptr };

const VectorKernels& tableOf (SimdLevel level) { return tables[static_cast<int> (level)]; }

SimdLevel widestSupported()
{
    SimdLevel level = SimdLevel::sse2;
    for (const SimdLevel l : { SimdLevel::avx2, SimdLevel::avx512 })
        if (simdSupports (l))
            level = l;
    if (const char* cap = std::getenv ("KTO_SIMD"))
        for (const SimdLevel l : { SimdLevel::sse2, SimdLevel::avx2 })
            if (std::strcmp (cap, simdLevelName (l)) == 0 && l < level)
                level = l;
    return level;
}
} // namespace

const VectorKernels& vectorKernels()
{
    const VectorKernels* table = active.load (std::memory_order_acquire);
    if (table == nullptr)
    {
        // Racing first calls all pick the same table.
        table = &tableOf (widestSupported());
        active.store (table, std::memory_order_release);
    }
    return *table;
}

SimdLevel simdLevel()
{
    return static_cast<SimdLevel> (&vectorKernels() - tables);
}

bool simdSupports (SimdLevel level)
{
    // The compiler's CPU check also asks the system whether it saves the wider registers.
    __builtin_cpu_init();
    switch (level)
    {
        case SimdLevel::sse2: return true;
        case SimdLevel::avx2: return __builtin_cpu_supports ("avx2");
        case SimdLevel::avx512: return __builtin_cpu_supports ("avx512f");
    }
    return false;
}

bool simdUseLevel (SimdLevel level)
{
    if (! simdSupports (level))
        return false;
    active.store (&tableOf (level), std::memory_order_release);
    return true;
}

const char* simdLevelName (SimdLevel level)
{
    switch (level)
    {
        case SimdLevel::sse2: return "sse2";
        case SimdLevel::avx2: return "avx2";
        case SimdLevel::avx512: return "avx512";
    }
    return "";
}
