#include "engine/smoothing/loglinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "engine/equating/equipercentile.h"

namespace eqsim {
namespace {

std::vector<double> score_points(int k) {
    std::vector<double> x(static_cast<std::size_t>(k));
    std::iota(x.begin(), x.end(), 0.0);
    return x;
}

std::vector<double> relative(const std::vector<double>& counts, double n) {
    std::vector<double> r;
    for (const double c : counts) {
        r.push_back(c / n);
    }
    return r;
}

struct Fit {
    bool fitted_any;
    LogLinearOutcome outcome;
    std::vector<double> fitted;
};

Fit fit(int q, const std::vector<double>& observed) {
    const int k = static_cast<int>(observed.size());
    Fit result{false, {}, std::vector<double>(observed.size(), -1.0)};
    std::vector<double> coefficients(observed.size() + 1);
    result.fitted_any =
        fit_loglinear(q, score_points(k), observed, result.fitted, coefficients, result.outcome);
    return result;
}

SamplePair pair_of(const std::vector<double>& rx, const std::vector<double>& ry, double nx,
                   double ny) {
    return SamplePair{rx, ry, nx, ny};
}

TEST(LogLinearBasis, OrthonormalPolynomials) {
    std::unique_ptr<BasisColumns> basis;
    ASSERT_TRUE(build_orthonormal_basis(3, score_points(4), basis));
    const double root5 = std::sqrt(5.0);
    const double linear[] = {-1.5 / root5, -0.5 / root5, 0.5 / root5, 1.5 / root5};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(basis->columns[0][k], 0.5, 1e-15);
        EXPECT_NEAR(basis->columns[1][k], linear[k], 1e-15);
    }
    basis.reset();

    ASSERT_TRUE(build_orthonormal_basis(8, score_points(30), basis));
    for (int i = 0; i <= 8; ++i) {
        for (int j = 0; j <= i; ++j) {
            double product = 0.0;
            for (int k = 0; k < 30; ++k) {
                product += basis->columns[i][k] * basis->columns[j][k];
            }
            EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-9) << i << "," << j;
        }
    }
    EXPECT_FALSE(build_orthonormal_basis(0, score_points(4), basis));
    EXPECT_EQ(basis, nullptr);
}

TEST(LogLinearSolver, CholeskyAndWeightedLeastSquares) {
    // A = L * L^T with L = [2; 1 2; -1 1 2]; the factor is exact.
    std::vector<double> block{4, 0, 0, 2, 5, 0, -2, 1, 6};
    std::vector<std::span<double>> rows{{&block[0], 3}, {&block[3], 3}, {&block[6], 3}};
    int failed_row = 0;
    ASSERT_TRUE(cholesky_factor(rows, failed_row));
    EXPECT_EQ(block[6], -1.0);
    EXPECT_EQ(block[8], 2.0);
    std::vector<double> b{2, 15, 18};  // A * (1, 2, 3)
    cholesky_solve(rows, b);
    EXPECT_NEAR(b[0], 1.0, 1e-14);
    EXPECT_NEAR(b[1], 2.0, 1e-14);
    EXPECT_NEAR(b[2], 3.0, 1e-14);

    // The first pivot is positive, the second is not: row 2 is reported.
    std::vector<double> singular{1, 0, 1, 1};
    std::vector<std::span<double>> singular_rows{{&singular[0], 2}, {&singular[2], 2}};
    EXPECT_FALSE(cholesky_factor(singular_rows, failed_row));
    EXPECT_EQ(failed_row, 2);
    singular = {-1, 0, 1, 1};
    EXPECT_FALSE(cholesky_factor(singular_rows, failed_row));
    EXPECT_EQ(failed_row, 1);

    // An exact line is recovered whatever the weights; collinear columns cannot be solved.
    const std::vector<double> ones(5, 1.0);
    const std::vector<double> x = score_points(5);
    const std::vector<double> z{1, 3, 5, 7, 9};
    const std::vector<double> w{0.5, 2, 1, 3, 0.25};
    std::vector<std::span<const double>> design{ones, x};
    std::vector<double> beta(2);
    ASSERT_TRUE(solve_weighted_least_squares(design, z, w, beta));
    EXPECT_NEAR(beta[0], 1.0, 1e-12);
    EXPECT_NEAR(beta[1], 2.0, 1e-12);
    design[1] = ones;
    EXPECT_FALSE(solve_weighted_least_squares(design, z, w, beta));
}

TEST(LogLinearFit, ConvergedFitKeepsTotalAndMoments) {
    const std::vector<double> y{2, 7, 15, 31, 48, 62, 55, 40, 22, 11, 4, 0, 3};
    const int q = 4;
    const Fit result = fit(q, y);
    ASSERT_TRUE(result.fitted_any);
    ASSERT_TRUE(result.outcome.converged);
    ASSERT_GE(result.outcome.iterations, 1);
    ASSERT_LE(result.outcome.iterations, 29);
    EXPECT_GE(result.outcome.deviance, 0.0);

    std::unique_ptr<BasisColumns> basis;
    ASSERT_TRUE(build_orthonormal_basis(q, score_points(13), basis));
    for (int j = 0; j <= q; ++j) {
        double observed = 0.0;
        double fitted = 0.0;
        for (int i = 0; i < 13; ++i) {
            observed += y[i] * basis->columns[j][i];
            fitted += result.fitted[i] * basis->columns[j][i];
        }
        EXPECT_NEAR(fitted, observed, 1e-4) << "moment " << j;
    }
}

TEST(LogLinearFit, IterationCodes) {
    // Frequencies that already follow a degree-1 model: the first iteration barely moves G2.
    std::unique_ptr<BasisColumns> basis;
    ASSERT_TRUE(build_orthonormal_basis(1, score_points(6), basis));
    std::vector<double> exact;
    for (int i = 0; i < 6; ++i) {
        exact.push_back(std::exp(3.0 + 0.7 * basis->columns[1][i]));
    }
    const Fit quick = fit(1, exact);
    EXPECT_TRUE(quick.outcome.converged);
    EXPECT_EQ(quick.outcome.iterations, 1);

    // Zeros in the tail leave no finite maximum: all 30 iterations are used.
    const Fit endless = fit(6, {20, 20, 0, 8, 0, 1, 0, 0, 0});
    EXPECT_TRUE(endless.fitted_any);
    EXPECT_FALSE(endless.outcome.converged);
    EXPECT_EQ(endless.outcome.iterations, 30);
    EXPECT_TRUE(std::isfinite(endless.fitted[0]));

    // Degree k - 1 is saturated: nothing is fitted.
    const std::vector<double> y{3, 0, 5, 9};
    const Fit saturated = fit(3, y);
    EXPECT_TRUE(saturated.outcome.saturated);
    EXPECT_EQ(saturated.fitted, y);
    EXPECT_EQ(saturated.outcome.deviance, 0.0);

    // A first solve that fails leaves nothing fitted, and the fit says so.
    const Fit unsolved = fit(4, {1e300, 0, 0, 0, 0, 1e300});
    EXPECT_FALSE(unsolved.fitted_any);
}

TEST(Presmooth, DegreeFromSmoothingParameter) {
    EXPECT_EQ(loglinear_degree(1.0), 1);
    EXPECT_EQ(loglinear_degree(3.7), 3);
    EXPECT_EQ(loglinear_degree(32768.0), 32767);
    EXPECT_EQ(loglinear_degree(1e300), 32767);
    EXPECT_EQ(loglinear_degree(std::numeric_limits<double>::infinity()), 32767);
    EXPECT_EQ(loglinear_degree(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Presmooth, SaturatedDegreesEqualUnsmoothedEquating) {
    const std::vector<double> cx{1, 4, 0, 12, 10, 6, 3, 1, 2};
    const std::vector<double> cy{2, 5, 8, 11, 0, 5, 3};
    const auto rx = relative(cx, 39.0);
    const auto ry = relative(cy, 34.0);
    std::vector<double> unsmoothed(9);
    std::vector<double> presmoothed(9);
    ASSERT_TRUE(equate_unsmoothed(rx, ry, unsmoothed));
    // The largest 16-bit degree is capped to k - 1 per form without wrapping.
    ASSERT_TRUE(equate_presmoothed(pair_of(rx, ry, 39.0, 34.0), 32767, 6, presmoothed));
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(presmoothed[i], unsmoothed[i], 1e-12) << "score " << i;
    }
}

// The expected bits were recorded from this code once its reports agreed byte for byte with an
// independent model of the program written from the method's description; a change in the order
// of the arithmetic, or in the last bit of exp or log, shows here. exp and log are now the
// correctly rounded cr_exp and cr_log, which gave these same bits, so they hold on every
// processor and C library.
TEST(Presmooth, MatchesReferenceBits) {
    const std::vector<double> cx{0, 2, 5, 9, 14, 20, 23, 19, 15, 9, 6, 3, 0, 1, 1};
    const std::vector<double> cy{1, 4, 8, 13, 16, 12, 7, 0, 3};
    std::vector<double> equated(15);
    const auto rx = relative(cx, 127.0);
    const auto ry = relative(cy, 64.0);
    ASSERT_TRUE(equate_presmoothed(pair_of(rx, ry, 127.0, 64.0), 5, 4, equated));
    const double expected[] = {-0x1.d8f47b3ff2fb9p-2, -0x1.47bf5ffa7ea04p-3, 0x1.6b3980cbd7cdep-1,
                               0x1.a9272c2d064a8p+0,  0x1.3c36d9b3903b3p+1,  0x1.89f0a6d756238p+1,
                               0x1.dfc7428b028ebp+1,  0x1.185fc50a62975p+2,  0x1.48c07158c7b58p+2,
                               0x1.7d5c426d4810fp+2,  0x1.b761fcc15580ap+2,  0x1.e70e52b38a1ffp+2,
                               0x1.ff535b3281ac3p+2,  0x1.06270aa29fbacp+3,  0x1.0c5e0db960501p+3};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(equated[i], expected[i]) << "score " << i;
    }
}

TEST(Presmooth, FailsOnlyWithoutFittedFrequencies) {
    // A fit that never converges is still equated.
    const std::vector<double> counts{20, 20, 0, 8, 0, 1, 0, 0, 0};
    const auto r = relative(counts, 49.0);
    std::vector<double> equated(9, 7.0);
    EXPECT_TRUE(equate_presmoothed(pair_of(r, r, 49.0, 49.0), 6, 6, equated));

    // No fitted frequencies, no degree, or no room for the scores: failure.
    const std::vector<double> extreme{0.5, 0, 0, 0, 0, 0.5};
    std::vector<double> untouched(6, 7.0);
    EXPECT_FALSE(equate_presmoothed(pair_of(extreme, extreme, 1e300, 1e300), 4, 4, untouched));
    EXPECT_EQ(untouched[0], 7.0);
    EXPECT_FALSE(equate_presmoothed(pair_of(extreme, extreme, 10.0, 10.0), 0, 2, untouched));
    EXPECT_FALSE(equate_presmoothed(pair_of(extreme, extreme, 10.0, 10.0), 2, 2,
                                    std::span<double>(untouched).first(5)));
    // A form without score points.
    EXPECT_FALSE(equate_presmoothed(pair_of(extreme, {}, 10.0, 10.0), 2, 2, untouched));
    EXPECT_EQ(untouched[0], 7.0);
}

}  // namespace
}  // namespace eqsim
