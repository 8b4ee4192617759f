#pragma once

// The core's stores are plain structures that free nothing by themselves. A test holds them as
// Owned, which frees them however the test ends (an ASSERT returns early).
#include "HeapBuffer.h"
#include "ImpulseBuffer.h"

namespace ktotest
{
inline void freeStore (HeapBuffer& b) { b.release(); }
inline void freeStore (SampleFifo& f) { f.release(); }
inline void freeStore (ImpulseBuffer& b) { b.release(); }
inline void freeStore (BlockQueue& q) { q.destroy(); }

template <typename Store>
struct Owned : Store
{
    Owned() = default;
    Owned (Owned&& other) noexcept : Store (other) { static_cast<Store&> (other) = Store(); }
    Owned (const Owned&) = delete;
    Owned& operator= (const Owned&) = delete;
    ~Owned() { freeStore (*this); }
};
} // namespace ktotest
