#pragma once

// Making the core fail on purpose, and reading how it failed.
#include "HeapBuffer.h"
#include "gsl_throw.h"

#include <string>

namespace ktotest
{
// While it lives the containers' allocations fail: after `successes` more, `failures` of them
// (every later one when negative). The switch is disarmed however the scope ends.
struct FailureSwitch
{
    explicit FailureSwitch (long successes, long failures = -1) { heapFailAllocationsAfter (successes, failures); }
    ~FailureSwitch() { heapFailAllocationsAfter (-1); }
    FailureSwitch (const FailureSwitch&) = delete;
    FailureSwitch& operator= (const FailureSwitch&) = delete;
};

// What call returns when run under a FailureSwitch.
template <typename Call>
auto whileFailing (long successes, Call&& call, long failures = -1)
{
    const FailureSwitch failing (successes, failures);
    return call();
}

// What the precondition that call broke says, or "no failure".
template <typename Call>
std::string failureMessage (Call&& call)
{
    try
    {
        call();
    }
    catch (const gsl::fail_fast& e)
    {
        return e.what();
    }
    return "no failure";
}

// The message of the precondition at that line of Source/Tessel/src/Buffer.cpp.
inline std::string bufferPrecondition (int line)
{
    return "GSL: Precondition failure at Source/Tessel/src/Buffer.cpp: " + std::to_string (line);
}
} // namespace ktotest
