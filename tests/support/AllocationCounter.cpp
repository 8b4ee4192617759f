#include "AllocationCounter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

extern "C"
{
void* __real_malloc (std::size_t);
void* __real_calloc (std::size_t, std::size_t);
void* __real_realloc (void*, std::size_t);
}

namespace
{
std::atomic<bool> counting { false };
std::atomic<long> count { 0 };

void note() noexcept
{
    if (counting.load (std::memory_order_relaxed))
        count.fetch_add (1, std::memory_order_relaxed);
}

void* allocate (std::size_t bytes) noexcept
{
    note();
    return __real_malloc (bytes == 0 ? 1 : bytes);
}
} // namespace

namespace ktotest::allocations
{
void start() noexcept
{
    count.store (0);
    counting.store (true);
}

long stop() noexcept
{
    counting.store (false);
    return count.load();
}
} // namespace ktotest::allocations

extern "C"
{
void* __wrap_malloc (std::size_t bytes)
{
    note();
    return __real_malloc (bytes);
}
void* __wrap_calloc (std::size_t n, std::size_t bytes)
{
    note();
    return __real_calloc (n, bytes);
}
void* __wrap_realloc (void* block, std::size_t bytes)
{
    note();
    return __real_realloc (block, bytes);
}
}

void* operator new (std::size_t bytes)
{
    if (void* p = allocate (bytes))
        return p;
    throw std::bad_alloc();
}
void* operator new[] (std::size_t bytes)
{
    if (void* p = allocate (bytes))
        return p;
    throw std::bad_alloc();
}
void* operator new (std::size_t bytes, const std::nothrow_t&) noexcept { return allocate (bytes); }
void* operator new[] (std::size_t bytes, const std::nothrow_t&) noexcept { return allocate (bytes); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { std::free (p); }
