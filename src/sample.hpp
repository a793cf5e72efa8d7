// The sample formula: one 8-bit sample (before wrapping) from the 32-bit counter.
#pragma once

#include <cstdint>

// Returns the sample for counter t, from 0 to 382; the byte written is its low 8 bits.
// Pure, and defined for every t, negative ones included.
constexpr std::int32_t sample_at(std::int32_t t);

// Defined where every caller sees it, so that the output loop inlines it under any
// compiler and build type without link-time optimisation.
#include "sample.ipp"
