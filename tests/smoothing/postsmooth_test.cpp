#include "smoothing/postsmooth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace eqsim {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Relative frequencies of a lumpy sample over k scores, with empty scores at both ends.
std::vector<double> lumpy_sample(int k, int shift) {
    std::vector<double> rel(static_cast<std::size_t>(k));
    double total = 0.0;
    for (int x = 2; x < k - 2; ++x) {
        const double z = (x - 0.5 * k - shift) / (0.25 * k);
        rel[static_cast<std::size_t>(x)] = std::round(100.0 * std::exp(-z * z) + (x * 7 % 5));
        total += rel[static_cast<std::size_t>(x)];
    }
    for (double& r : rel) {
        r /= total;
    }
    return rel;
}

// Equates with one smoothing value; the output has a sentinel on each side of new_low..new_high.
struct Equated {
    std::int16_t status;
    std::vector<double> scores;
};

Equated equate(const std::vector<double>& new_rel, const std::vector<double>& old_rel,
               double smoothing, double new_size = 2000.0, double old_size = 1500.0,
               double tail_cut = 0.005) {
    const int kx = static_cast<int>(new_rel.size());
    const int ky = static_cast<int>(old_rel.size());
    std::vector<double> padded(new_rel.size() + 2);
    padded[0] = 7.0;  // entry 0 stays out of the range
    for (std::size_t i = 0; i < new_rel.size(); ++i) {
        padded[i + 1] = new_rel[i];
    }
    std::vector<double> out(static_cast<std::size_t>(kx) + 2, -99.0);
    const std::span<double> output(out);
    const double values[] = {smoothing};
    const auto status =
        postsmooth_equate(1, kx, 0, ky - 1, new_size, old_size, padded, old_rel,
                          std::span<const std::span<double>>(&output, 1), values, 1, tail_cut);
    EXPECT_EQ(out.front(), -99.0);
    EXPECT_EQ(out.back(), -99.0);
    return {status, std::vector<double>(out.begin() + 1, out.end() - 1)};
}

TEST(PostsmoothEquate, IdenticalSamplesGiveTheIdentity) {
    const std::vector<double> rel = lumpy_sample(30, 0);
    for (double smoothing : {0.0, 0.3, 1.0}) {
        const Equated e = equate(rel, rel, smoothing, 1000.0, 1000.0);
        ASSERT_EQ(e.status, 0);
        for (std::size_t x = 0; x < e.scores.size(); ++x) {
            EXPECT_NEAR(e.scores[x], static_cast<double>(x), 1e-9) << smoothing;
        }
    }
}

TEST(PostsmoothEquate, SmoothingBelowZeroActsAsZeroAndMoreSmoothsMore) {
    const std::vector<double> new_rel = lumpy_sample(40, 2);
    const std::vector<double> old_rel = lumpy_sample(36, -1);
    const Equated zero = equate(new_rel, old_rel, 0.0);
    EXPECT_EQ(equate(new_rel, old_rel, -0.4).scores, zero.scores);
    // The second difference measures how far the function bends from score to score; away from
    // the joins with the extension lines it falls as the smoothing rises.
    double previous_bend = std::numeric_limits<double>::infinity();
    for (const double smoothing : {0.0, 0.05, 0.2, 1.0}) {
        const Equated e = equate(new_rel, old_rel, smoothing);
        ASSERT_EQ(e.status, 0);
        double bend = 0.0;
        for (std::size_t x = 1; x < e.scores.size(); ++x) {
            EXPECT_LT(e.scores[x - 1], e.scores[x]);
            if (x >= 8 && x <= 30) {
                bend += std::fabs(e.scores[x + 1] - 2.0 * e.scores[x] + e.scores[x - 1]);
            }
        }
        EXPECT_LT(bend, previous_bend) << smoothing;
        previous_bend = bend;
    }
}

// Reference values from a separate model of the method; a change in the order of the
// arithmetic shows here as a changed last bit.
TEST(PostsmoothEquate, AgreesWithReferenceValuesToTheLastBit) {
    const Equated e = equate(lumpy_sample(40, 2), lumpy_sample(36, -1), 0.2);
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(e.scores[3], 1.5076690517686251);
    EXPECT_EQ(e.scores[12], 8.5013665078254377);
    EXPECT_EQ(e.scores[20], 15.385068919875376);
    EXPECT_EQ(e.scores[27], 21.76878704459066);
    EXPECT_EQ(e.scores[36], 30.49881970048564);
}

TEST(PostsmoothEquate, UnusableArgumentsAndInputsAreHandledSafely) {
    const std::vector<double> rel = lumpy_sample(20, 0);
    std::vector<double> out(20, -99.0);
    const std::span<double> output(out);
    const std::span<const std::span<double>> outputs(&output, 1);
    const double values[] = {0.5};
    // Ranges beyond the arrays, one score point, and no smoothing value.
    EXPECT_EQ(postsmooth_equate(0, 20, 0, 19, 100, 100, rel, rel, outputs, values, 1, 0.005), 1);
    EXPECT_EQ(postsmooth_equate(0, 19, 0, 0, 100, 100, rel, rel, outputs, values, 1, 0.005), 1);
    EXPECT_EQ(postsmooth_equate(0, 19, 0, 19, 100, 100, rel, rel, outputs, values, 0, 0.005), 1);
    // A tail cut so wide that nothing is left to fit.
    EXPECT_EQ(equate(rel, lumpy_sample(20, 3), 0.5, 100, 100, 0.45).status, 1);
    for (double v : out) {
        EXPECT_EQ(v, -99.0);
    }
    // Input that is not a number ends in non-finite scores, never in a hang.
    std::vector<double> broken = rel;
    broken[8] = kNaN;
    const Equated e = equate(broken, lumpy_sample(20, 3), 0.5);
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(std::isnan(e.scores[8]));
    EXPECT_EQ(equate(rel, lumpy_sample(20, 3), 0.5, kNaN).status, 0);
    EXPECT_EQ(equate(rel, lumpy_sample(20, 3), kNaN).status, 0);
}

// Fits one direction through given equivalents while the other is the identity, so that each
// equated score reveals the first direction's function.
class ExtensionLines : public ::testing::Test {
  protected:
    static constexpr int kK = 12;
    DVector values = dvector(0, kK - 1);
    DVector curve = dvector(0, kK - 1);
    DVector identity = dvector(0, kK - 1);
    DVector errors = dvector(0, kK - 1);
    std::vector<double> equated = std::vector<double>(kK);

    void SetUp() override {
        for (int x = 0; x < kK; ++x) {
            values[x] = x;
            curve[x] = 0.8 * x + 0.02 * x * x + 0.3;
            identity[x] = x;
            errors[x] = 0.1;
        }
    }
};

// Each point (x, y) for x beyond the range lies on the line through (corner, corner') and
// (range end, its value).
void expect_on_line(double x, double y, double corner_x, double corner_y, double end_x,
                    double end_y) {
    EXPECT_NEAR((y - corner_y) * (end_x - corner_x), (end_y - corner_y) * (x - corner_x), 1e-9);
}

TEST_F(ExtensionLines, NewToOldLinesEndHalfAPointBeyondBothScales) {
    const FittingRange cut{3, 2};
    smooth_and_average(kK, kK, values, values, curve, errors, cut, identity, errors, {0, 0}, 0.0,
                       equated);
    const int hi = kK - 1 - cut.excluded_top;
    for (int x = 0; x < kK; ++x) {
        const double sa = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x >= cut.lowest && x <= hi) {
            EXPECT_NEAR(sa, curve[x], 1e-9);
        } else if (x < cut.lowest) {
            expect_on_line(x, sa, -0.5, -0.5, cut.lowest, curve[cut.lowest]);
        } else {
            expect_on_line(x, sa, kK - 0.5, kK - 0.5, hi, curve[hi]);
        }
    }
}

TEST_F(ExtensionLines, OldToNewLinesEndHalfAPointBeyondBothScales) {
    const FittingRange cut{2, 3};
    smooth_and_average(kK, kK, values, values, identity, errors, {0, 0}, curve, errors, cut, 0.0,
                       equated);
    // Equated score x is the mean of x and the old score y whose old-to-new value is x.
    const int hi = kK - 1 - cut.excluded_top;
    for (int x = 0; x < kK; ++x) {
        const double y = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x < curve[cut.lowest]) {
            expect_on_line(y, x, -0.5, -0.5, cut.lowest, curve[cut.lowest]);
        } else if (x > curve[hi]) {
            expect_on_line(y, x, kK - 0.5, kK - 0.5, hi, curve[hi]);
        }
    }
}

TEST(PostsmoothTables, EmptyScoresKeepRanksStrictlyIncreasing) {
    DVector counts = dvector(0, 5);
    const double raw[] = {0.0, 4.0, 0.0, 0.0, 6.0, 0.0};
    for (int x = 0; x < 6; ++x) {
        counts[x] = raw[x];
    }
    DVector f = dvector(0, 5), cumulative = dvector(0, 5), ranks = dvector(0, 5);
    double total = 0.0;
    cumulate_counts(counts, f, cumulative, ranks, total, 6);
    EXPECT_NEAR(total, 10.0, 1e-8);
    EXPECT_EQ(counts[0], 1e-9);
    EXPECT_NEAR(cumulative[5], 1.0, 1e-15);
    for (int x = 1; x < 6; ++x) {
        EXPECT_GT(f[x], 0.0);
        EXPECT_GT(ranks[x], ranks[x - 1]);
    }
    EXPECT_GT(ranks[0], 0.0);
    EXPECT_LT(ranks[5], 1.0);
}

TEST(PostsmoothTables, StandardErrorIsNeverTheRootOfANegativeVariance) {
    double se = -1.0;
    // Tables this inconsistent drive the corrected variance below 0.
    equating_standard_error(0.5, 2.0, 1.5, 1e6, 100.0, se);
    EXPECT_EQ(se, 0.0);
    equating_standard_error(0.5, 0.2, 0.6, 1000.0, 1000.0, se);
    EXPECT_GT(se, 0.0);
}

}  // namespace
}  // namespace eqsim
