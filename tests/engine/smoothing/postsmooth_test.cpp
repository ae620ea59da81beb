#include "engine/smoothing/postsmooth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace eqsim {
namespace {

using Values = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kUntouched = -99.0;

// Relative frequencies of a lumpy sample over k scores, the two lowest and highest empty.
Values lumpy_sample(int k, int shift) {
    Values rel(static_cast<std::size_t>(k));
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

// The equated scores are written into the middle of a longer array; the entries around them must
// stay untouched.
struct Equated {
    bool ok;
    Values scores;
};

Equated equate(const Values& new_rel, const Values& old_rel, double smoothing,
               double new_size = 2000.0, double old_size = 1500.0, double tail_cut = 0.005) {
    Values out(new_rel.size() + 2, kUntouched);
    const Status status =
        postsmooth_equate(SamplePair{new_rel, old_rel, new_size, old_size}, smoothing, tail_cut,
                          std::span<double>(out).subspan(1, new_rel.size()));
    EXPECT_EQ(out.front(), kUntouched);
    EXPECT_EQ(out.back(), kUntouched);
    return {status.is_ok(), Values(out.begin() + 1, out.end() - 1)};
}

TEST(PostsmoothEquate, IdenticalSamplesGiveTheIdentity) {
    const Values rel = lumpy_sample(30, 0);
    for (double smoothing : {0.0, 0.3, 1.0}) {
        const Equated e = equate(rel, rel, smoothing, 1000.0, 1000.0);
        ASSERT_TRUE(e.ok);
        for (std::size_t x = 0; x < e.scores.size(); ++x) {
            EXPECT_NEAR(e.scores[x], static_cast<double>(x), 1e-9) << smoothing;
        }
    }
}

TEST(PostsmoothEquate, SmoothingBelowZeroActsAsZeroAndMoreBendsLess) {
    const Values new_rel = lumpy_sample(40, 2);
    const Values old_rel = lumpy_sample(36, -1);
    EXPECT_EQ(equate(new_rel, old_rel, -0.4).scores, equate(new_rel, old_rel, 0.0).scores);
    // Bending measured away from the joins with the extension lines.
    double previous_bend = std::numeric_limits<double>::infinity();
    for (const double smoothing : {0.0, 0.05, 0.2, 1.0}) {
        const Values e = equate(new_rel, old_rel, smoothing).scores;
        double bend = 0.0;
        for (std::size_t x = 1; x < e.size(); ++x) {
            EXPECT_LT(e[x - 1], e[x]);
            if (x >= 8 && x <= 30) {
                bend += std::fabs(e[x + 1] - 2.0 * e[x] + e[x - 1]);
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
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.scores[3], 1.5076690517686251);
    EXPECT_EQ(e.scores[12], 8.5013665078254377);
    EXPECT_EQ(e.scores[20], 15.385068919875376);
    EXPECT_EQ(e.scores[27], 21.76878704459066);
    EXPECT_EQ(e.scores[36], 30.49881970048564);
}

TEST(PostsmoothEquate, UnusableArgumentsAndInputsAreHandledSafely) {
    const Values rel = lumpy_sample(20, 0);
    const Values other = lumpy_sample(20, 3);
    Values out(20, kUntouched);
    const auto fails = [&](const SamplePair& samples, std::span<double> equated, double tail_cut) {
        const Status status = postsmooth_equate(samples, 0.5, tail_cut, equated);
        return status.code() == Status::Code::method_failed;
    };
    const std::span<const double> one_point = std::span<const double>(rel).first(1);
    // No room for the scores, one score point, nothing left to fit.
    EXPECT_TRUE(fails(SamplePair{rel, rel, 100, 100}, std::span<double>(out).first(19), 0.005));
    EXPECT_TRUE(fails(SamplePair{rel, one_point, 100, 100}, out, 0.005));
    EXPECT_TRUE(fails(SamplePair{rel, other, 100, 100}, out, 0.45));
    EXPECT_EQ(out, Values(20, kUntouched));
    // Input that is not a number ends in non-finite scores, never in a hang.
    Values broken = rel;
    broken[8] = kNaN;
    const Equated e = equate(broken, other, 0.5);
    EXPECT_TRUE(e.ok);
    EXPECT_TRUE(std::isnan(e.scores[8]));
    EXPECT_TRUE(equate(rel, other, 0.5, kNaN).ok);
    EXPECT_TRUE(equate(rel, other, kNaN).ok);
}

TEST(PostsmoothEquate, StandardErrorIsNeverTheRootOfANegativeVariance) {
    // Tables this inconsistent drive the corrected variance below 0.
    EXPECT_EQ(equating_standard_error(0.5, 2.0, 1.5, 1e6, 100.0), 0.0);
    EXPECT_GT(equating_standard_error(0.5, 0.2, 0.6, 1000.0, 1000.0), 0.0);
}

// One direction is fitted through a curve with a cut fitting range, the other through the
// identity, so each equated score shows the curve's function: (x, 2 equated - x) is a point of
// new to old, (2 equated - x, x) one of old to new. Beyond the range those points must lie on
// the line from the corner (-0.5, -0.5) or (k - 0.5, k - 0.5) to the range's end.
TEST(PostsmoothEquate, ExtensionLinesEndHalfAPointBeyondBothScales) {
    constexpr int k = 12;
    DVector values = dvector(0, k - 1), curve = dvector(0, k - 1);
    DVector identity = dvector(0, k - 1), errors = dvector(0, k - 1);
    for (int x = 0; x < k; ++x) {
        values[x] = identity[x] = x;
        curve[x] = 0.8 * x + 0.02 * x * x + 0.3;
        errors[x] = 0.1;
    }
    const FittingRange cut{3, 2}, whole{0, 0};
    // One direction's equivalents: copies of the given values with the given fitting range.
    const auto direction = [&](const DVector& e, FittingRange range) {
        Equivalents eq{k, k, dvector(0, k - 1), dvector(0, k - 1), range};
        for (int x = 0; x < k; ++x) {
            eq.e[x] = e[x];
            eq.se[x] = errors[x];
        }
        return eq;
    };
    const int lo = cut.lowest, hi = k - 1 - cut.excluded_top;
    const auto on_line = [&](double x, double y) {
        const double corner = x < lo ? -0.5 : k - 0.5;
        const int end = x < lo ? lo : hi;
        EXPECT_NEAR((y - corner) * (end - corner), (curve[end] - corner) * (x - corner), 1e-9);
    };
    Values equated(k);
    ASSERT_TRUE(smooth_and_average(direction(curve, cut), direction(identity, whole), values,
                                   values, 0.0, equated));
    for (int x = 0; x < k; ++x) {
        const double y = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x < lo || x > hi) {
            on_line(x, y);
        } else {
            EXPECT_NEAR(y, curve[x], 1e-9);
        }
    }
    ASSERT_TRUE(smooth_and_average(direction(identity, whole), direction(curve, cut), values,
                                   values, 0.0, equated));
    for (int x = 0; x < k; ++x) {
        const double y = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x < curve[lo] || x > curve[hi]) {
            on_line(y, x);
        }
    }
}

}  // namespace
}  // namespace eqsim
