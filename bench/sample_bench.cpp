// The cost of one sample_at call, with a counter that changes on every iteration.
#include "sample.hpp"

#include <benchmark/benchmark.h>
#include <cstdint>

namespace {

void sample_at_per_sample(benchmark::State& state) {
    std::uint32_t t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sample_at(static_cast<std::int32_t>(t++)));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(sample_at_per_sample);

} // namespace
