// The web page's WebAssembly module: the program's own formula, exported to the page's
// script. The module imports nothing.
#include "sample.hpp"

#include <cstddef>
#include <cstdint>

namespace {
// One loop of the stream, the most the page asks for at once.
std::uint8_t bytes[std::size_t{1} << 21];
} // namespace

// The bytes that the program writes for the counters from `first` on, `count` of them
// (at most one loop), wrapping on 32 bits as its counter does; returns where they are.
[[clang::export_name("fill")]] std::uint8_t* fill(std::int32_t first, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count && i < sizeof bytes; ++i) {
        const auto t = static_cast<std::int32_t>(static_cast<std::uint32_t>(first) + i);
        bytes[i] = static_cast<std::uint8_t>(sample_at(t));
    }
    return bytes;
}

// The slope of the 4096-sample stretch that counter t lies in, for the page's view.
[[clang::export_name("ramp_multiplier")]] std::int32_t export_ramp_multiplier(std::int32_t t) {
    return static_cast<std::int32_t>(formula::ramp_multiplier(t));
}
