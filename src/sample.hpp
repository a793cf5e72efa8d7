// The sample formula: one 8-bit sample (before wrapping) from the 32-bit counter, a
// stepped ramp plus a 7-bit pattern of shifted counters. Defined here, where every
// caller sees it, so that the output loop inlines it without link-time optimisation.
#pragma once

#include <cstdint>

namespace formula {

// The sixteen slopes are read from this word as 4-bit windows starting at bits 0, 2,
// 4, ... 30, so that neighbouring windows overlap; a mask drops each window's bit 1.
constexpr std::uint32_t multiplier_word = 0x8898A989U;

// Right shifts of t are arithmetic; the result is taken as unsigned so that
// the multiplications below wrap on 32 bits instead of overflowing.
constexpr std::uint32_t sar(std::int32_t t, int n) {
    return static_cast<std::uint32_t>(t >> n);
}

// The slope for the current 4096-sample stretch, selected by bits 12 to 15 of t.
// The shift of multiplier_word is logical: a signed shift would turn the last
// slope from 0 into 12.
constexpr std::uint32_t ramp_multiplier(std::int32_t t) {
    const std::uint32_t s = sar(t, 11) & 30U;
    return (multiplier_word >> s) & 13U;
}

constexpr std::uint32_t ramp_term(std::int32_t t) {
    return (sar(t, 4) * ramp_multiplier(t)) & 255U;
}

// The 7-bit pattern: bits 1 to 7 of 10x + 4y, which are bits 0 to 6 of 5x + 2y
// whatever the signs, and the second form saves the doubling and the halving.
constexpr std::uint32_t pattern_term(std::int32_t t) {
    const std::uint32_t x = sar(t, 9) | sar(t, 2) | sar(t, 8);
    const std::uint32_t y = sar(t, 8) | (sar(t, 2) & sar(t, 15));
    return (5U * x + 2U * y) & 127U;
}

} // namespace formula

// Returns the sample for counter t, from 0 to 382; the byte written is its low 8 bits.
// Pure, and defined for every t, negative ones included.
constexpr std::int32_t sample_at(std::int32_t t) {
    return static_cast<std::int32_t>(formula::ramp_term(t) + formula::pattern_term(t));
}
