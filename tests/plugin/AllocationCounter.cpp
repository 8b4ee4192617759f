#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
std::atomic<bool> counting { false };
std::atomic<long> count { 0 };

void note() noexcept
{
    if (counting.load (std::memory_order_relaxed))
        count.fetch_add (1, std::memory_order_relaxed);
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

void* operator new (std::size_t size)
{
    note();
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[] (std::size_t size) { return operator new (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    note();
    return std::malloc (size == 0 ? 1 : size);
}
void* operator new[] (std::size_t size, const std::nothrow_t& tag) noexcept { return operator new (size, tag); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
bool ktotest::allocations::countsMalloc() noexcept { return false; }
#else
// glibc's own entry points stay reachable under these names.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);
extern "C" void* __libc_memalign (std::size_t, std::size_t);

extern "C" void* malloc (std::size_t size)
{
    note();
    return __libc_malloc (size);
}
extern "C" void* calloc (std::size_t n, std::size_t size)
{
    note();
    return __libc_calloc (n, size);
}
extern "C" void* realloc (void* p, std::size_t size)
{
    note();
    return __libc_realloc (p, size);
}
extern "C" void* memalign (std::size_t alignment, std::size_t size)
{
    note();
    return __libc_memalign (alignment, size);
}
extern "C" void* aligned_alloc (std::size_t alignment, std::size_t size)
{
    note();
    return __libc_memalign (alignment, size);
}
extern "C" int posix_memalign (void** out, std::size_t alignment, std::size_t size)
{
    note();
    void* p = __libc_memalign (alignment, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
bool ktotest::allocations::countsMalloc() noexcept { return true; }
#endif
