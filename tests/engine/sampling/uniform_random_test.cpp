#include "engine/sampling/uniform_random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace eqsim {
namespace {

std::vector<double> draws(std::int32_t seed, int count) {
    UniformRandom generator;
    seed_uniform(generator, seed);
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
        values.push_back(draw_uniform(generator));
    }
    return values;
}

std::int32_t step_from(std::int32_t state) {
    UniformRandom generator;
    generator.state = state;
    return congruential_step(generator);
}

TEST(CongruentialStep, MatchesTheMinimalStandardCheckValue) {
    // The published check: from state 1, the 10000th value is 1043618065.
    UniformRandom generator;
    generator.state = 1;
    std::int32_t value = 0;
    for (int i = 0; i < 10000; ++i) {
        value = congruential_step(generator);
    }
    EXPECT_EQ(value, 1043618065);
}

TEST(CongruentialStep, AgreesWithA64BitProductModuloTheModulus) {
    std::int64_t state = 1;
    for (int i = 0; i < 200000; ++i) {
        const std::int64_t expected = (state * 16807) % 2147483647;
        ASSERT_EQ(step_from(static_cast<std::int32_t>(state)), expected) << "state " << state;
        state = (state * 48271 + 12345) % 2147483647;
        state = state == 0 ? 1 : state;
    }
}

TEST(UniformRandom, FirstDeviatesOfSeveralSeedsArePinned) {
    // Raw values from an independent model of the generator in Python big integers (97 warm-up
    // steps of state = 16807 * state mod (2^31 - 1), 97 table entries, then one value for last;
    // each draw takes slot min(97 * last // (2^31 - 1), 96)).
    const std::vector<std::pair<std::int32_t, std::vector<double>>> pinned = {
        {1, {281725226, 1070477904, 877819790, 1073185695, 1358796011}},
        {2147483646, {1952083387, 1685241262, 1799164909, 465675024, 612655679}},
        {-12345, {2043120658, 1471725416, 1878228320, 761090983, 720527425}},
    };
    for (const auto& [seed, raw] : pinned) {
        std::vector<double> expected;
        for (const double r : raw) {
            expected.push_back(r / 2147483647.0);
        }
        EXPECT_EQ(draws(seed, 5), expected) << "seed " << seed;
    }
}

TEST(UniformRandom, SameSeedSameSequenceAndNegativeSeedActsAsItsResidue) {
    EXPECT_EQ(draws(4711, 500), draws(4711, 500));
    EXPECT_NE(draws(4711, 50), draws(4712, 50));
    EXPECT_EQ(step_from(-1), 2147483647 - 16807);
    EXPECT_EQ(draws(-1, 300), draws(2147483646, 300));
}

TEST(UniformRandom, DeviatesLieInTheOpenZeroClosedOneInterval) {
    UniformRandom generator;
    seed_uniform(generator, 1);
    for (int i = 0; i < 100000; ++i) {
        const double u = draw_uniform(generator);
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
}

TEST(UniformRandom, DegenerateSeedsStayInsideTheShuffleTable) {
    // Seeds 0 and 2^31 - 1 make every value 2^31 - 1, whose slot product rounds to 97.0.
    for (const std::int32_t seed : {0, 2147483647}) {
        UniformRandom generator;
        seed_uniform(generator, seed);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(draw_uniform(generator), 1.0);
        }
        EXPECT_EQ(generator.table[96], 2147483647);
    }
}

}  // namespace
}  // namespace eqsim
