#pragma once

#include <atomic>

// Counts heap allocations made on any thread while counting is on: global operator new in this
// test program, and malloc and its relatives where no sanitizer owns them.
namespace ktotest::allocations
{
void start() noexcept;
long stop() noexcept;
bool countsMalloc() noexcept;
} // namespace ktotest::allocations
