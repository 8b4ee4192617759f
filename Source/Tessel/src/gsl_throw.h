#pragma once
// Throwing preconditions on top of Debian's GSL 4, whose Expects terminates.
// GSL is included first so that its own noexcept code keeps its terminating checks.
#include <gsl/gsl>

#include <stdexcept>
#include <string>

namespace gsl
{
struct fail_fast : public std::logic_error
{
    explicit fail_fast (const std::string& message) : std::logic_error (message) {}
};
} // namespace gsl

namespace tessel::detail
{
// KTO_SOURCE_ROOT is the repository root; messages carry paths relative to it.
constexpr const char* relativePath (const char* path) noexcept
{
    const char* root = KTO_SOURCE_ROOT;
    const char* p = path;
    while (*root != '\0' && *p == *root)
    {
        ++root;
        ++p;
    }
    if (*root != '\0')
        return path;
    return *p == '/' ? p + 1 : p;
}

[[noreturn]] inline void preconditionFailed (const char* file, int line)
{
    throw gsl::fail_fast ("GSL: Precondition failure at " + std::string (relativePath (file)) + ": "
                          + std::to_string (line));
}
} // namespace tessel::detail

// Throws gsl::fail_fast naming this file and line when cond is false.
#define KTO_EXPECTS(cond)                                                     \
    do                                                                        \
    {                                                                         \
        if (! (cond))                                                         \
            ::tessel::detail::preconditionFailed (__FILE__, __LINE__);        \
    } while (false)
