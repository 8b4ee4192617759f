#pragma once

#include "Buffer.h"

// Returns the input converted to newRate: trunc(frames x newRate / oldRate) frames, each channel
// through a 64-tap windowed sinc (32 phases), zeros assumed outside the input. When the length
// would not change the result is an exact copy, rate included.
// Throws gsl::fail_fast for a rate of 0 or less, a result of no frames, or one too long to hold.
Buffer resampleBuffer (const Buffer& input, int newRate);
