#include <gtest/gtest.h>

#include <cstdint>

#include "engine/sampling/uniform_random.h"

namespace eqsim {
namespace {

// Every raw value the generator can hold, 1..2^31 - 1.
TEST(UniformRandomExhaustive, IntegerShuffleSlotEqualsTheFloatingPointSlot) {
    std::int64_t mismatches = 0;
    for (std::int64_t last = 1; last <= 2147483647; ++last) {
        const auto value = static_cast<std::int32_t>(last);
        mismatches += shuffle_slot(value) != shuffle_slot_floating(value) ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(shuffle_slot(2147483647), 96);
}

TEST(UniformRandomExhaustive, MersenneReductionEqualsSchragesStep) {
    std::int64_t mismatches = 0;
    for (std::int64_t state = 1; state <= 2147483647; ++state) {
        const auto value = static_cast<std::int32_t>(state);
        mismatches += congruential_step_positive(value) != congruential_step_schrage(value) ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace eqsim
