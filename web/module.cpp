// The web page's WebAssembly module: the program's own formula, exported to the page's
// script as these two functions. The module imports nothing.
#include "sample.hpp"

#include <cstdint>

[[clang::export_name("sample_at")]] std::int32_t export_sample_at(std::int32_t t) {
    return sample_at(t);
}

// The slope of the 4096-sample stretch that counter t lies in, for the page's view.
[[clang::export_name("ramp_multiplier")]] std::int32_t export_ramp_multiplier(std::int32_t t) {
    return static_cast<std::int32_t>(formula::ramp_multiplier(t));
}
