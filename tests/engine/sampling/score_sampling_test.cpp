#include "engine/sampling/score_sampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "engine/sampling/uniform_random.h"

namespace eqsim {
namespace {

struct Table {
    std::vector<double> cumulative;
    std::vector<std::int32_t> lookup;
};

Table build(std::vector<double> distribution, double scale = 10.0) {
    Table table{std::move(distribution), std::vector<std::int32_t>(static_cast<int>(scale) + 1)};
    build_sampling_table(scale, table.cumulative, table.lookup);
    return table;
}

std::vector<std::int32_t> draw(const Table& table, std::int32_t n, std::int32_t seed,
                               double scale = 10.0) {
    std::vector<std::int32_t> counts(table.cumulative.size(), -7);
    UniformRandom generator;
    seed_uniform(generator, seed);
    draw_score_counts(generator, n, scale, table.cumulative, table.lookup, counts);
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
    UniformRandom generator;
    seed_uniform(generator, 2024);
    std::vector<std::int32_t> expected(distribution.size(), 0);
    for (int i = 0; i < 20000; ++i) {
        const double u = draw_uniform(generator);
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

namespace eqsim {
namespace {

std::vector<std::int32_t> draw_raw(const std::vector<double>& distribution, std::int32_t n,
                                   std::int32_t seed, UniformRandom* after = nullptr) {
    std::vector<double> cumulative = distribution;
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, cumulative, lookup);
    RawSamplingTable table;
    build_raw_sampling_table(cumulative, table);
    std::vector<std::int32_t> counts(distribution.size(), -7);
    UniformRandom generator;
    seed_uniform(generator, seed);
    draw_score_counts_raw(generator, n, table, counts);
    if (after != nullptr) {
        *after = generator;
    }
    return counts;
}

std::vector<double> bell(int k, double centre, double spread) {
    std::vector<double> p(static_cast<std::size_t>(k));
    double total = 0.0;
    for (int i = 0; i < k; ++i) {
        const double z = (i - centre) / spread;
        p[static_cast<std::size_t>(i)] = std::exp(-0.5 * z * z);
        total += p[static_cast<std::size_t>(i)];
    }
    for (double& v : p) {
        v /= total;
    }
    return p;
}

TEST(ScoreDraws, ASmallSampleAndATieArePinned) {
    // Counts from the generator modelled in Python big integers, each deviate placed both by
    // double comparison and by exact rational comparison with the cumulative values (they agree).
    const std::vector<double> quarters = {0.1, 0.2, 0.3, 0.4};
    EXPECT_EQ(draw(build(quarters), 20, 17), (std::vector<std::int32_t>{1, 5, 7, 7}));
    EXPECT_EQ(draw_raw(quarters, 20, 17), (std::vector<std::int32_t>{1, 5, 7, 7}));

    // A deviate equal to a cumulative value belongs to the lower score: seed 17 first draws
    // 1589618570 / (2^31 - 1), here made the first score's cumulative value exactly.
    const double u = 1589618570 / 2147483647.0;
    EXPECT_EQ(draw(build({u, 1.0 - u}), 1, 17), (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(draw_raw({u, 1.0 - u}, 1, 17), (std::vector<std::int32_t>{1, 0}));
}

TEST(ScoreDraws, EveryLookupAndTheRawValuePathDrawTheSameSamples) {
    std::vector<double> tiny(30, 1e-10);  // probabilities below one raw step
    tiny[12] = 1.0 - 29e-10;
    const std::vector<std::vector<double>> populations = {
        bell(41, 20.0, 8.0),
        bell(81, 42.0, 13.0),
        bell(41, 33.0, 4.0),                              // skewed against the top
        {0.0, 0.0, 0.3, 0.0, 0.0, 0.45, 0.0, 0.25, 0.0},  // impossible scores
        {1.0},                                            // one point
        {0.0, 0.0, 1.0, 0.0},                             // all mass on one score
        {0.5, 0.4, 0.3, 0.2},                             // sums above 1
        {0.1, 0.2, 0.1, 0.2},                             // sums below 1
        {1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0},
        tiny,
    };
    for (std::size_t p = 0; p < populations.size(); ++p) {
        for (const std::int32_t seed : {1, 17, 4711, 99991, 2147483646}) {
            const Table ten = build(populations[p], 10.0);
            const auto expected = draw(ten, 5000, seed, 10.0);
            EXPECT_EQ(draw_raw(populations[p], 5000, seed), expected) << "population " << p;
            for (const double scale : {1.0, 4096.0, 65536.0}) {
                EXPECT_EQ(draw(build(populations[p], scale), 5000, seed, scale), expected)
                    << "population " << p << " scale " << scale;
            }
        }
    }
}

TEST(ScoreDraws, RawPathLeavesTheGeneratorWhereTheDeviatePathDoes) {
    const std::vector<double> population = bell(41, 20.0, 8.0);
    UniformRandom after;
    draw_raw(population, 777, 31337, &after);
    UniformRandom generator;
    seed_uniform(generator, 31337);
    for (int i = 0; i < 777; ++i) {
        draw_uniform(generator);
    }
    EXPECT_EQ(draw_uniform_raw(generator), draw_uniform_raw(after));
}

TEST(RawSamplingTable, ThresholdsAreTheFirstRawValuesBeyondEachCumulativeValue) {
    std::vector<double> cumulative = {0.25, 0.25, 0.0, 0.5};
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, cumulative, lookup);
    RawSamplingTable table;
    build_raw_sampling_table(cumulative, table);
    for (std::size_t j = 0; j + 1 < 4; ++j) {
        const std::int64_t t = table.thresholds[j];
        EXPECT_GT(static_cast<double>(t) / 2147483647.0, cumulative[j]);
        EXPECT_LE(static_cast<double>(t - 1) / 2147483647.0, cumulative[j]);
    }
    EXPECT_EQ(table.thresholds[3], 0xFFFFFFFFu);
}

}  // namespace
}  // namespace eqsim
