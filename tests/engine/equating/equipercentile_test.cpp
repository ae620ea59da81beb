#include "engine/equating/equipercentile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace eqsim {
namespace {

std::vector<double> equate(std::vector<double> new_freq, std::vector<double> old_freq) {
    std::vector<double> equated(new_freq.size());
    equipercentile_equate(0.0, 1.0, new_freq, old_freq, kUniformMass, equated);
    return equated;
}

TEST(EquipercentileEquate, WorkedExamples) {
    // No zeros: percentile ranks 0.1, 0.35, 0.75 against old cumulative 0.3, 0.7, 1.
    const auto plain = equate({0.2, 0.3, 0.5}, {0.3, 0.4, 0.3});
    EXPECT_NEAR(plain[0], -1.0 / 6.0, 1e-15);
    EXPECT_NEAR(plain[1], 0.625, 1e-15);
    EXPECT_NEAR(plain[2], 1.5 + 1.0 / 6.0, 1e-15);

    // Old-form counts with a flat step: rescaled, mixed with the mass; the new form is not.
    std::vector<double> old_cum{3.0, 0.0, 7.0};
    prepare_cumulative(old_cum, kUniformMass);
    EXPECT_NEAR(old_cum[0], 0.3000000333, 1e-10);
    EXPECT_NEAR(old_cum[1], 0.3000003667, 1e-10);
    EXPECT_EQ(old_cum[2], 1.0);
    const auto flat = equate({0.2, 0.3, 0.5}, {3.0, 0.0, 7.0});
    EXPECT_NEAR(flat[0], -0.1666667, 5e-8);
    EXPECT_NEAR(flat[1], 1.5714281, 5e-8);
    EXPECT_NEAR(flat[2], 2.1428570, 5e-8);
}

TEST(EquipercentileEquate, IdenticalDistributionsMapToThemselves) {
    const std::vector<double> dist{0.05, 0.1, 0.2, 0.3, 0.2, 0.1, 0.05};
    const auto equated = equate(dist, dist);
    for (std::size_t i = 0; i < dist.size(); ++i) {
        EXPECT_NEAR(equated[i], static_cast<double>(i), 1e-12);
    }
}

// The expected bits were recorded from this code once its reports agreed byte for byte with an
// independent model of the program written from the method's description; a change in the order
// of the arithmetic shows here as a changed last bit.
TEST(EquipercentileEquate, MatchesReferenceBits) {
    // Samples of 127 and 64 with zeros inside both: both forms get the mass.
    const double cx[] = {0, 2, 5, 9, 14, 20, 23, 19, 15, 9, 6, 3, 0, 1, 1};
    const double cy[] = {1, 4, 8, 13, 16, 12, 7, 0, 3};
    std::vector<double> rx;
    std::vector<double> ry;
    for (const double c : cx) {
        rx.push_back(c / 127.0);
    }
    for (const double c : cy) {
        ry.push_back(c / 64.0);
    }
    const std::vector<double> rx_before = rx;
    std::vector<double> equated(15);
    ASSERT_TRUE(equate_unsmoothed(rx, ry, equated));
    const double expected[] = {-0x1.ffff70d5d61d1p-2, 0x1.0233488a77100p-8, 0x1.a24493fdd055cp-1,
                               0x1.9972e5cdd85a5p+0,  0x1.2972e4df3c5ddp+1, 0x1.8679402121eacp+1,
                               0x1.e7efde36429d4p+1,  0x1.1e4c9850775d9p+2, 0x1.4b6c2c40a2236p+2,
                               0x1.74037203c59c4p+2,  0x1.9691b359bcf3fp+2, 0x1.fa5f5a752d02cp+2,
                               0x1.053fcf35fd7c0p+3,  0x1.07efdc86d2c9bp+3, 0x1.0d4ff42cf0edep+3};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(equated[i], expected[i]) << "score " << i;
    }
    EXPECT_EQ(rx, rx_before);
}

TEST(EquipercentileCumulative, UniformMassRules) {
    const double k = 4.0;
    // A zero from score 1 up is a flat step: every entry is mixed with the mass.
    std::vector<double> flat{0.25, 0.0, 0.5, 0.25};
    prepare_cumulative(flat, kUniformMass);
    const double keep = 1.0 - kUniformMass;
    EXPECT_EQ(flat[0], keep * 0.25 + kUniformMass / k);
    EXPECT_EQ(flat[1], (keep * 0.0 + kUniformMass / k) + flat[0]);
    // So is a probability too small to move the running sum.
    std::vector<double> tiny{0.5, 1e-20, 0.25, 0.25};
    prepare_cumulative(tiny, kUniformMass);
    EXPECT_GT(tiny[1], tiny[0]);
    // A zero at score 0 alone is not.
    std::vector<double> low_zero{0.0, 0.5, 0.25, 0.25};
    prepare_cumulative(low_zero, kUniformMass);
    EXPECT_EQ(low_zero[0], 0.0);
    EXPECT_EQ(low_zero[1], 0.5);
    // A negative mass is used as its absolute value, flat step or not; a zero mass never.
    std::vector<double> negative{0.5, 0.25, 0.125, 0.125};
    prepare_cumulative(negative, -0.5);
    EXPECT_EQ(negative[0], 0.5 * 0.5 + 0.5 / k);
    std::vector<double> none{0.25, 0.0, 0.5, 0.25};
    prepare_cumulative(none, 0.0);
    EXPECT_EQ(none[1], 0.25);
    EXPECT_EQ(none[3], 1.0);
}

TEST(EquipercentileCumulative, RescalesOnlyWhenTotalIsNotOne) {
    std::vector<double> exact{0.5, 0.25, 0.25};
    prepare_cumulative(exact, kUniformMass);
    EXPECT_EQ(exact[0], 0.5);
    EXPECT_EQ(exact[1], 0.75);

    const double total = 0.7 + 0.1 + 0.1 + 0.0999998;
    std::vector<double> short_of_one{0.7, 0.1, 0.1, 0.0999998};
    prepare_cumulative(short_of_one, kUniformMass);
    // Multiplied by the reciprocal of the total, not divided by it: the two differ here.
    ASSERT_NE(0.7 * (1.0 / total), 0.7 / total);
    EXPECT_EQ(short_of_one[0], 0.7 * (1.0 / total));
    EXPECT_EQ(short_of_one[3], 1.0);
}

TEST(EquipercentileInversion, BoundsAndTies) {
    std::vector<double> equated(3);
    // A rank equal to an old cumulative value enters the next score's interval at its start.
    const std::vector<double> new_cum{0.5, 0.75, 1.0};  // ranks 0.25, 0.625, 0.875
    const std::vector<double> old_cum{0.25, 0.625, 0.875, 1.0};
    invert_percentile_ranks(0.0, 1.0, new_cum, old_cum, equated);
    EXPECT_EQ(equated[0], 0.5);
    EXPECT_EQ(equated[1], 1.5);
    EXPECT_EQ(equated[2], 2.5);

    // A rank on a flat old step passes the whole step.
    const std::vector<double> flat_old{0.25, 0.25, 1.0};
    invert_percentile_ranks(0.0, 1.0, std::span(new_cum).first(1), flat_old, equated);
    EXPECT_EQ(equated[0], 1.5);

    // Ranks beyond every old value before the last fall in the last score's interval.
    const std::vector<double> low_old{0.1, 0.2, 1.0};
    invert_percentile_ranks(0.0, 1.0, new_cum, low_old, equated);
    EXPECT_GE(equated[2], 1.5);
    EXPECT_LE(equated[2], 2.5);

    // A single old score maps every rank R to R - 0.5; minimum and increment shift and stretch.
    const std::vector<double> one{1.0};
    invert_percentile_ranks(0.0, 1.0, new_cum, one, equated);
    EXPECT_EQ(equated[1], 0.125);
    invert_percentile_ranks(10.0, 2.0, new_cum, one, equated);
    EXPECT_EQ(equated[1], 10.25);

    // The rank is the lower cumulative value plus half the step, to the last bit.
    const std::vector<double> uneven{0.214, 0.642, 1.0};
    ASSERT_NE(0.214 + 0.5 * (0.642 - 0.214), 0.5 * (0.214 + 0.642));
    invert_percentile_ranks(0.0, 1.0, uneven, one, equated);
    EXPECT_EQ(equated[1], (0.214 + 0.5 * (0.642 - 0.214)) - 0.5);
}

TEST(EquipercentileInversion, RanksOfRealScoresAreContinuousAndInvertible) {
    const std::vector<double> cum{0.214, 0.642, 1.0};
    for (int i = 0; i < 3; ++i) {
        const double rank = percentile_rank_of(cum, i);
        EXPECT_EQ(rank, (i > 0 ? cum[i - 1] : 0.0) + 0.5 * (cum[i] - (i > 0 ? cum[i - 1] : 0.0)));
        EXPECT_NEAR(score_of_rank(0.0, 1.0, cum, rank), i, 1e-15);
        // Each interval's ends meet its neighbours'.
        EXPECT_NEAR(percentile_rank_of(cum, i + 0.5), cum[i], 1e-15);
        EXPECT_NEAR(percentile_rank_of(cum, std::nextafter(i + 0.5, 0.0)), cum[i], 1e-15);
    }
    EXPECT_EQ(percentile_rank_of(cum, -0.5), 0.0);
    EXPECT_EQ(percentile_rank_of(cum, 7.0), 1.0);
    // Just below the top the sum with 0.5 rounds up to k; the top score's interval takes it.
    const std::vector<double> one{1.0};
    const double below_top = std::nextafter(0.5, 0.0);
    ASSERT_EQ(below_top + 0.5, 1.0);
    EXPECT_NEAR(percentile_rank_of(one, below_top), 1.0, 1e-15);
    EXPECT_TRUE(std::isnan(percentile_rank_of(one, std::nan(""))));
}

TEST(EquipercentileInversion, StaysInsideTablesWithNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> equated(3);
    const std::vector<double> new_cum{nan, nan, 1.0};
    const std::vector<double> old_cum{nan, 0.5, 1.0};
    invert_percentile_ranks(0.0, 1.0, new_cum, old_cum, equated);
    EXPECT_TRUE(std::isnan(equated[0]));

    // An all-zero sample cannot be normalised; the result is non-finite, never a stray read.
    const auto empty = equate({0.0, 0.0, 0.0, 0.0}, {0.25, 0.25, 0.25, 0.25});
    EXPECT_FALSE(std::isfinite(empty[0]));
}

TEST(EquipercentileUnsmoothed, RefusesEmptyDistributionsAndShortResults) {
    const std::vector<double> dist{0.5, 0.5};
    std::vector<double> equated{7.0, 7.0, 7.0};
    EXPECT_FALSE(equate_unsmoothed({}, dist, equated));
    EXPECT_FALSE(equate_unsmoothed(dist, {}, equated));
    EXPECT_FALSE(equate_unsmoothed(dist, dist, std::span<double>(equated).first(1)));
    EXPECT_EQ(equated[0], 7.0);
}

}  // namespace
}  // namespace eqsim
