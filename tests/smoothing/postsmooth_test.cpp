#include "smoothing/postsmooth.h"

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

// The new form's scores sit at 1..kx of the caller's arrays; the output entries around them must
// stay untouched.
struct Equated {
    std::int16_t status;
    Values scores;
};

Equated equate(const Values& new_rel, const Values& old_rel, double smoothing,
               double new_size = 2000.0, double old_size = 1500.0, double tail_cut = 0.005) {
    const int kx = static_cast<int>(new_rel.size());
    Values shifted{7.0};
    shifted.insert(shifted.end(), new_rel.begin(), new_rel.end());
    Values out(new_rel.size() + 2, kUntouched);
    const std::span<double> output(out);
    const double values[] = {smoothing};
    const auto status = postsmooth_equate(
        1, kx, 0, static_cast<int>(old_rel.size()) - 1, new_size, old_size, shifted, old_rel,
        std::span<const std::span<double>>(&output, 1), values, 1, tail_cut);
    EXPECT_EQ(out.front(), kUntouched);
    EXPECT_EQ(out.back(), kUntouched);
    return {status, Values(out.begin() + 1, out.end() - 1)};
}

TEST(PostsmoothEquate, IdenticalSamplesGiveTheIdentity) {
    const Values rel = lumpy_sample(30, 0);
    for (double smoothing : {0.0, 0.3, 1.0}) {
        const Equated e = equate(rel, rel, smoothing, 1000.0, 1000.0);
        ASSERT_EQ(e.status, 0);
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
    ASSERT_EQ(e.status, 0);
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
    const std::span<double> output(out);
    const std::span<const std::span<double>> outputs(&output, 1);
    const double values[] = {0.5};
    // Ranges beyond the arrays, one score point, no smoothing value, nothing left to fit.
    EXPECT_EQ(postsmooth_equate(0, 20, 0, 19, 100, 100, rel, rel, outputs, values, 1, 0.005), 1);
    EXPECT_EQ(postsmooth_equate(0, 19, 0, 0, 100, 100, rel, rel, outputs, values, 1, 0.005), 1);
    EXPECT_EQ(postsmooth_equate(0, 19, 0, 19, 100, 100, rel, rel, outputs, values, 0, 0.005), 1);
    EXPECT_EQ(postsmooth_equate(0, 19, 0, 19, 100, 100, rel, other, outputs, values, 1, 0.45), 1);
    EXPECT_EQ(out, Values(20, kUntouched));
    // Input that is not a number ends in non-finite scores, never in a hang.
    Values broken = rel;
    broken[8] = kNaN;
    const Equated e = equate(broken, other, 0.5);
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(std::isnan(e.scores[8]));
    EXPECT_EQ(equate(rel, other, 0.5, kNaN).status, 0);
    EXPECT_EQ(equate(rel, other, kNaN).status, 0);
}

TEST(PostsmoothEquate, StandardErrorIsNeverTheRootOfANegativeVariance) {
    double se = -1.0;
    // Tables this inconsistent drive the corrected variance below 0.
    equating_standard_error(0.5, 2.0, 1.5, 1e6, 100.0, se);
    EXPECT_EQ(se, 0.0);
    equating_standard_error(0.5, 0.2, 0.6, 1000.0, 1000.0, se);
    EXPECT_GT(se, 0.0);
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
    const int lo = cut.lowest, hi = k - 1 - cut.excluded_top;
    const auto on_line = [&](double x, double y) {
        const double corner = x < lo ? -0.5 : k - 0.5;
        const int end = x < lo ? lo : hi;
        EXPECT_NEAR((y - corner) * (end - corner), (curve[end] - corner) * (x - corner), 1e-9);
    };
    Values equated(k);
    smooth_and_average(k, k, values, values, curve, errors, cut, identity, errors, whole, 0.0,
                       equated);
    for (int x = 0; x < k; ++x) {
        const double y = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x < lo || x > hi) {
            on_line(x, y);
        } else {
            EXPECT_NEAR(y, curve[x], 1e-9);
        }
    }
    smooth_and_average(k, k, values, values, identity, errors, whole, curve, errors, cut, 0.0,
                       equated);
    for (int x = 0; x < k; ++x) {
        const double y = 2.0 * equated[static_cast<std::size_t>(x)] - x;
        if (x < curve[lo] || x > curve[hi]) {
            on_line(y, x);
        }
    }
}

}  // namespace
}  // namespace eqsim
