// stepwave: writes an endless stream of unsigned 8-bit samples to standard output.
#include "sample.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** /*argv*/) {
    // The counter wraps from 2^31 - 1 to -2^31; unsigned arithmetic makes that wrap defined.
    for (auto t = static_cast<std::uint32_t>(argc);; ++t) {
        // Write until a write fails, then stop at once, so the reader has an exact prefix.
        if (std::putchar(sample_at(static_cast<std::int32_t>(t))) == EOF) {
            std::_Exit(EXIT_FAILURE);
        }
    }
}
