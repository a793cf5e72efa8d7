// A second, deliberately different formulation of the sample formula for the tests:
// slopes from a table, 64-bit signed arithmetic, floor division and residues instead
// of shifts and masks.
#pragma once

#include <array>
#include <cstdint>

namespace model {

// Floor division by a positive d, which is what an arithmetic right shift computes.
constexpr std::int64_t floor_div(std::int64_t v, std::int64_t d) {
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}

// The non-negative remainder, which is what a mask of the low bits keeps.
constexpr std::int64_t residue(std::int64_t v, std::int64_t d) {
    return ((v % d) + d) % d;
}

constexpr int sample(std::int32_t t) {
    constexpr std::array<std::int64_t, 16> slopes{9, 0, 8, 4, 9, 8, 8, 0, 8, 4, 9, 0, 8, 0, 8, 0};
    const std::int64_t slope = slopes.at(static_cast<std::size_t>(residue(floor_div(t, 4096), 16)));
    const std::int64_t ramp = residue(floor_div(t, 16) * slope, 256);
    const std::int64_t x = floor_div(t, 512) | floor_div(t, 4) | floor_div(t, 256);
    const std::int64_t y = floor_div(t, 256) | (floor_div(t, 4) & floor_div(t, 32768));
    return static_cast<int>(ramp + residue(5 * x + 2 * y, 128));
}

// The byte written for counter t.
constexpr unsigned char byte(std::int32_t t) {
    return static_cast<unsigned char>(residue(sample(t), 256));
}

// The counter for byte n of a stream whose argument count, the program's name included,
// is argc; it wraps on 32 bits.
constexpr std::int32_t counter(int argc, std::uint64_t n) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(argc) +
                                     static_cast<std::uint32_t>(n));
}

} // namespace model
