#pragma once

// What the fuzz targets share: one processor, built once, in a process with a temporary HOME.
#include "Processor.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size);

namespace kto::fuzz
{
// The processor, stereo and prepared, with its parameters at their defaults.
Processor& processor();

// Puts every parameter back to its default, so that each input starts from the same state.
void resetParameters();

// Runs one short block of noise through the processor with whatever values the input left in
// the parameters.
void processProbeBlock();
} // namespace kto::fuzz
