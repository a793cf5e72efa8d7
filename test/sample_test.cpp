// Checks sample_at against known values and, over every counter value, against the model.
#include "model.hpp"
#include "sample.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
constexpr std::uint32_t period = 1U << 21;

TEST(SampleAt, KnownValues) {
    struct Case {
        std::int32_t t;
        std::int32_t value;
    };
    // The first ramp steps; the first value above 255; the first counter of the
    // stretches where the slope is 0, 8 and 4; the last slope, 0, which a signed
    // shift of the packed slopes turns into 12; the peak; the first counter where
    // 10x + 4y wraps; both ends of the range and their twins one period away.
    constexpr Case cases[] = {
        {0, 0},         {3, 0},         {4, 5},      {7, 5},         {8, 10},
        {12, 15},       {16, 29},       {20, 34},    {24, 39},       {28, 44},
        {31, 44},       {32, 58},       {288, 273},  {1000000, 167}, {4096, 24},
        {8192, 48},     {12288, 120},   {61520, 76}, {18656, 378},   {838860800, 0},
        {highest, 121}, {2097151, 121}, {-1, 121},   {lowest, 0},    {2097152, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sample_at(c.t), c.value) << "t = " << c.t;
    }
}

// The model depends only on bits 2 to 20 of t, so one period of it stands for every
// counter value; this sweeps all 2^32 of them, which also runs every one under the
// sanitizers.
TEST(SampleAt, MatchesTheModelForEveryCounter) {
    std::vector<std::int32_t> expected(period);
    for (std::uint32_t i = 0; i < period; ++i) {
        expected[i] = model::sample(static_cast<std::int32_t>(i));
    }
    std::uint32_t u = 0;
    do {
        const auto t = static_cast<std::int32_t>(u);
        if (sample_at(t) != expected[u % period]) {
            FAIL() << "t = " << t << ": got " << sample_at(t) << ", want " << model::sample(t);
        }
    } while (++u != 0);
}

TEST(SampleAt, ModelAgreesAtTheEndsOfTheRange) {
    for (std::int32_t i = 0; i < 4096; ++i) {
        EXPECT_EQ(sample_at(lowest + i), model::sample(lowest + i));
        EXPECT_EQ(sample_at(highest - i), model::sample(highest - i));
    }
}

} // namespace
