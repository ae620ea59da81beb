#include "engine/smoothing/spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace eqsim {
namespace {

using Values = std::vector<double>;
constexpr double kSentinel = 99.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const Values kUnevenX{-2.0, -1.0, 0.5, 1.0, 2.5, 3.0, 4.0, 6.0, 6.5};
const Values kNoisyY{1.0, 3.0, 0.5, 2.0, 4.5, 1.0, 2.5, 5.0, 3.0};
const Values kDeviations{0.5, 0.4, 0.6, 0.5, 0.3, 0.5, 0.7, 0.4, 0.5};

DVector vector_from(int lo, const Values& values) {
    DVector v = dvector(lo, lo + static_cast<int>(values.size()) - 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        v[lo + static_cast<int>(i)] = values[i];
    }
    return v;
}

// The coefficients reach two indices beyond lo..hi on each side, preset to a sentinel so that
// any write outside the fitted points shows.
struct Fit {
    int lo, hi;
    DVector a, b, c, d;
};

Fit fit(int lo, const Values& x, const Values& y, const Values& dy, double smoothing) {
    const int hi = lo + static_cast<int>(x.size()) - 1;
    const Values preset(x.size() + 4, kSentinel);
    Fit f{lo,
          hi,
          vector_from(lo - 2, preset),
          vector_from(lo - 2, preset),
          vector_from(lo - 2, preset),
          vector_from(lo - 2, preset)};
    const DVector xs = vector_from(lo, x);
    const DVector ys = vector_from(lo, y);
    const DVector dys = vector_from(lo, dy);
    CubicPieces pieces{std::move(f.a), std::move(f.b), std::move(f.c), std::move(f.d)};
    EXPECT_TRUE(fit_smoothing_spline(SplinePoints{lo, hi, xs, ys, dys}, smoothing, pieces));
    f.a = std::move(pieces.a);
    f.b = std::move(pieces.b);
    f.c = std::move(pieces.c);
    f.d = std::move(pieces.d);
    for (const DVector* v : {&f.a, &f.b, &f.c, &f.d}) {
        for (int i : {lo - 2, lo - 1, hi + 1, hi + 2}) {
            EXPECT_EQ((*v)[i], kSentinel) << i;
        }
    }
    EXPECT_EQ(f.b[hi], kSentinel);
    return f;
}

// Value, slope and curvature agree where each piece meets the next.
void expect_smooth_joins(const Fit& f, const Values& x) {
    for (int i = f.lo; i < f.hi; ++i) {
        const double h =
            x[static_cast<std::size_t>(i - f.lo + 1)] - x[static_cast<std::size_t>(i - f.lo)];
        EXPECT_NEAR(f.a[i] + f.b[i] * h + f.c[i] * h * h + f.d[i] * h * h * h, f.a[i + 1], 1e-9);
        EXPECT_NEAR(f.c[i] + 3.0 * f.d[i] * h, f.c[i + 1], 1e-9);
        if (i + 1 < f.hi) {
            EXPECT_NEAR(f.b[i] + 2.0 * f.c[i] * h + 3.0 * f.d[i] * h * h, f.b[i + 1], 1e-9);
        }
    }
}

TEST(SmoothingSpline, ZeroOrNegativeSmoothingInterpolatesWithNaturalEnds) {
    const Fit zero = fit(3, kUnevenX, kNoisyY, kDeviations, 0.0);
    const Fit negative = fit(3, kUnevenX, kNoisyY, kDeviations, -0.5);
    for (int i = zero.lo; i <= zero.hi; ++i) {
        EXPECT_EQ(zero.a[i], kNoisyY[static_cast<std::size_t>(i - 3)]);
        EXPECT_EQ(negative.c[i], zero.c[i]);
    }
    EXPECT_EQ(zero.c[zero.lo], 0.0);
    EXPECT_EQ(zero.c[zero.hi], 0.0);
    expect_smooth_joins(zero, kUnevenX);
}

TEST(SmoothingSpline, LinesAndFewPointsComeBackUnchanged) {
    // Two points: the straight line through them, however much smoothing is asked for.
    const Fit two = fit(0, {1.0, 3.0}, {2.0, 7.0}, {0.5, 0.5}, 0.8);
    EXPECT_EQ(two.a[1], 7.0);
    EXPECT_EQ(two.b[0], 2.5);
    EXPECT_EQ(two.c[0], 0.0);
    EXPECT_EQ(two.d[0], 0.0);
    // Points on a line leave nothing to smooth away.
    const Values line{1.0, 3.0, 5.0, 7.0, 9.0, 11.0};
    const Fit straight = fit(-1, {0, 1, 2, 3, 4, 5}, line, Values(6, 0.3), 1.0);
    for (int i = straight.lo; i <= straight.hi; ++i) {
        EXPECT_EQ(straight.a[i], line[static_cast<std::size_t>(i + 1)]);
        EXPECT_EQ(straight.c[i], 0.0);
    }
    // One point: nothing beyond it is read, even with a smoothing that is not a number.
    const Fit one = fit(4, {2.0}, {1.5}, {0.2}, kNaN);
    EXPECT_EQ(one.a[4], 1.5);
    EXPECT_EQ(one.c[4], 0.0);
}

TEST(SmoothingSpline, ConvergedFitUsesTheWholeResidualLevelAndBendsLessWithMore) {
    double previous_bend = kInf;
    for (double smoothing : {0.2, 0.5, 0.9}) {
        const Fit f = fit(0, kUnevenX, kNoisyY, kDeviations, smoothing);
        double residuals = 0.0;
        double bend = 0.0;
        for (int i = f.lo; i <= f.hi; ++i) {
            const auto j = static_cast<std::size_t>(i);
            const double r = (f.a[i] - kNoisyY[j]) / kDeviations[j];
            residuals += r * r;
            bend += f.c[i] * f.c[i];
        }
        const double level = (f.hi - f.lo) * smoothing;
        EXPECT_NEAR(residuals, level, 1e-9 * level);
        EXPECT_LT(bend, previous_bend);
        previous_bend = bend;
        expect_smooth_joins(f, kUnevenX);
    }
    Values pinned = kDeviations;
    pinned[4] = 0.0;
    const Fit f = fit(0, kUnevenX, kNoisyY, pinned, 0.9);
    EXPECT_EQ(f.a[4], kNoisyY[4]);
    EXPECT_NE(f.a[3], kNoisyY[3]);
}

// Reference values from a separate model of the fit on uneven spacing; a change in the order of
// the arithmetic shows here as a changed last bit.
TEST(SmoothingSpline, AgreesWithReferenceValuesToTheLastBit) {
    const Fit f = fit(0, kUnevenX, kNoisyY, kDeviations, 0.5);
    EXPECT_EQ(f.a[2], 0.84975666904171265);
    EXPECT_EQ(f.b[3], 3.3059849612410446);
    EXPECT_EQ(f.c[4], -6.0229392792648753);
    EXPECT_EQ(f.d[5], -1.9825749788306695);
}

TEST(SmoothingSpline, NonFiniteInputEndsTheFit) {
    Values y = kNoisyY;
    y[2] = kNaN;
    EXPECT_TRUE(std::isnan(fit(0, kUnevenX, y, kDeviations, 0.5).a[0]));
    Values dy = kDeviations;
    dy[5] = kInf;
    fit(0, kUnevenX, kNoisyY, dy, 0.5);
    for (double smoothing : {kNaN, kInf, -kInf, 1e300}) {
        fit(0, kUnevenX, kNoisyY, kDeviations, smoothing);
        fit(0, {0.0, 1.0}, {0.0, 2.0}, {0.1, 0.1}, smoothing);
    }
}

TEST(CubicSegment, Inversion) {
    EXPECT_EQ(invert_cubic_segment(1.5, 0.25, 0.0, 0.0, 2.0, 0.3), 2.0);
    // A flat start gives Newton nowhere to go.
    EXPECT_EQ(invert_cubic_segment(1.0, 0.0, 1.0, 0.0, 3.0, 0.0), 0.0);
    const double t = invert_cubic_segment(0.2, 0.8, 0.3, -0.1, 0.9, 0.5);
    EXPECT_NEAR(cubic_segment_value(0.2, 0.8, 0.3, -0.1, 0.9, t), 0.0, 1e-9);
    // Newton on t^3 - 2t + 2 from 0 alternates 1, 0, 1, ...; the 22nd and last correction gives 0.
    EXPECT_EQ(invert_cubic_segment(2.0, -2.0, 0.0, 1.0, 0.0, 0.0), 0.0);
    EXPECT_TRUE(std::isnan(invert_cubic_segment(kNaN, 1.0, 0.0, 0.0, 0.0, 0.0)));
}

}  // namespace
}  // namespace eqsim
