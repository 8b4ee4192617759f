#pragma once

// Counts heap allocations made on any thread while counting is on: every form of global operator
// new in the test program, and malloc, calloc and realloc (wrapped at link time, so the count
// holds under the sanitizers too).
namespace ktotest::allocations
{
void start() noexcept;
long stop() noexcept;
} // namespace ktotest::allocations
