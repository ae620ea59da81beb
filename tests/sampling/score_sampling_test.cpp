#include "sampling/score_sampling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "sampling/uniform_random.h"

namespace eqsim {
namespace {

struct Table {
    std::vector<double> cumulative;
    std::vector<std::int32_t> lookup;
};

Table build(std::vector<double> distribution, double scale = 10.0) {
    Table table{std::move(distribution), std::vector<std::int32_t>(static_cast<int>(scale) + 1)};
    build_sampling_table(static_cast<int>(table.cumulative.size()), scale, table.cumulative,
                         table.lookup);
    return table;
}

std::vector<std::int32_t> draw(const Table& table, std::int32_t n, std::int32_t seed,
                               double scale = 10.0) {
    std::vector<std::int32_t> counts(table.cumulative.size(), -7);
    seed_uniform(seed);
    draw_score_counts(n, static_cast<int>(table.cumulative.size()), scale, table.cumulative,
                      table.lookup, counts);
    return counts;
}

TEST(SamplingTable, LookupHoldsTheFirstScoreReachingEachTenth) {
    const Table table = build({0.05, 0.30, 0.65});
    EXPECT_EQ(table.lookup, (std::vector<std::int32_t>{0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(table.cumulative.back(), 1.0);

    const Table single = build({0.7});
    EXPECT_EQ(single.cumulative[0], 1.0);
    EXPECT_EQ(single.lookup, std::vector<std::int32_t>(11, 0));
}

TEST(SamplingTable, LastValueIsForcedToOneWhateverTheSum) {
    EXPECT_EQ(build({0.3, 0.3, 0.3}).cumulative.back(), 1.0);
    const Table over = build({0.6, 0.6, 0.2});
    EXPECT_EQ(over.cumulative.back(), 1.0);
    // The sum passes 1 at score 1: score 2 can never be drawn.
    EXPECT_EQ(draw(over, 5000, 99)[2], 0);
}

TEST(ScoreDraws, CountsCoverTheSampleAndSkipImpossibleScores) {
    const Table table = build({0.0, 0.25, 0.0, 0.0, 0.5, 0.25, 0.0});
    const auto counts = draw(table, 10000, 17);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 10000);
    for (const int impossible : {0, 2, 3}) {
        EXPECT_EQ(counts[impossible], 0) << "score " << impossible;
    }
    EXPECT_NEAR(counts[4], 5000, 300);

    EXPECT_EQ(draw(build({0.0, 1.0, 0.0}), 321, 5), (std::vector<std::int32_t>{0, 321, 0}));
    EXPECT_EQ(draw(table, 0, 5), std::vector<std::int32_t>(7, 0));
    EXPECT_EQ(draw(build({1.0}), 12, 5), std::vector<std::int32_t>{12});
}

TEST(ScoreDraws, EachDeviateGoesToTheSmallestScoreWhoseCumulativeValueReachesIt) {
    const std::vector<double> distribution = {0.01, 0.02, 0.07, 0.2, 0.3, 0.25, 0.1, 0.05};
    const Table table = build(distribution);
    // The same deviates, placed by a plain search from score 0.
    seed_uniform(2024);
    std::vector<std::int32_t> expected(distribution.size(), 0);
    for (int i = 0; i < 20000; ++i) {
        const double u = draw_uniform();
        std::size_t j = 0;
        while (u > table.cumulative[j]) {
            ++j;
        }
        ++expected[j];
    }
    EXPECT_EQ(draw(table, 20000, 2024), expected);
}

}  // namespace
}  // namespace eqsim
