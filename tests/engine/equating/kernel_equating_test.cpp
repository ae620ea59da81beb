#include "engine/equating/kernel_equating.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "engine/numeric/normal.h"
#include "engine/smoothing/loglinear.h"

namespace eqsim {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// ---------------------------------------------------------------------------------------------
// The definitions of kernel_equating.h as plain loops over every term, with none of the
// evaluation's shortcuts (no stopping, no skipping, every quantity formed where it is used).

struct Plain {
    const std::vector<double>& r;
    double a = 0.0;
    double shift = 0.0;
    double inverse_scale = 0.0;

    Plain(const std::vector<double>& probabilities, double h) : r(probabilities) {
        double mean = 0.0;
        for (std::size_t j = 0; j < r.size(); ++j) {
            mean += static_cast<double>(j) * r[j];
        }
        double variance = 0.0;
        for (std::size_t j = 0; j < r.size(); ++j) {
            variance += ((static_cast<double>(j) - mean) * (static_cast<double>(j) - mean)) * r[j];
        }
        a = std::sqrt(variance / (variance + h * h));
        shift = (1.0 - a) * mean;
        inverse_scale = 1.0 / (a * h);
    }
    int size() const { return static_cast<int>(r.size()); }
    double z(int j, double x) const {
        return (x - (a * static_cast<double>(j) + shift)) * inverse_scale;
    }
    double cdf(double x) const {
        double sum = 0.0;
        for (int j = 0; j < size(); ++j) {
            sum += r[j] * normal_cdf(z(j, x));
        }
        return sum;
    }
    double upper(double x) const {
        double sum = 0.0;
        for (int j = size() - 1; j >= 0; --j) {
            sum += r[j] * normal_cdf(-z(j, x));
        }
        return sum;
    }
    double density(double x) const {
        int n = 0;
        while (n < size() && z(n, x) > 0.0) {
            ++n;
        }
        if (n == size()) {
            n = size() - 1;
        } else if (n > 0 && z(n - 1, x) <= -z(n, x)) {
            n = n - 1;
        }
        double sum = 0.0;
        for (int j = n; j < size(); ++j) {
            sum += r[j] * gaussian(z(j, x));
        }
        for (int j = n - 1; j >= 0; --j) {
            sum += r[j] * gaussian(z(j, x));
        }
        return sum * (inverse_scale * kInvSqrtTwoPi);
    }
};

double plain_pen1(const std::vector<double>& r, double h) {
    const Plain c(r, h);
    double pen = 0.0;
    for (int k = 0; k < c.size(); ++k) {
        const double d = r[k] - c.density(static_cast<double>(k));
        pen += d * d;
    }
    return pen;
}

double plain_bandwidth(const std::vector<double>& r) {
    double best = kInf;
    int best_i = 0;
    for (int i = 0; i < kBandwidthGridPoints; ++i) {
        const double value = plain_pen1(r, bandwidth_grid_point(i));
        if (value < best) {
            best = value;
            best_i = i;
        }
    }
    double a = bandwidth_grid_point(std::max(best_i - 1, 0));
    double b = bandwidth_grid_point(std::min(best_i + 1, kBandwidthGridPoints - 1));
    double c = b - kInverseGoldenRatio * (b - a);
    double d = a + kInverseGoldenRatio * (b - a);
    double fc = plain_pen1(r, c);
    double fd = plain_pen1(r, d);
    while (b - a >= kBandwidthTolerance * (0.5 * (a + b))) {
        if (fc <= fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - kInverseGoldenRatio * (b - a);
            fc = plain_pen1(r, c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + kInverseGoldenRatio * (b - a);
            fd = plain_pen1(r, d);
        }
    }
    return 0.5 * (a + b);
}

// ---------------------------------------------------------------------------------------------

std::vector<double> normalised(std::vector<double> v) {
    const double total = std::accumulate(v.begin(), v.end(), 0.0);
    for (double& x : v) {
        x /= total;
    }
    return v;
}

struct Example {
    std::vector<double> new_counts;
    std::vector<double> old_counts;
};

Example example_counts() {
    Example e;
    std::ifstream file(std::string(EQSIM_SOURCE_DIR) + "/examples/actmath.dat");
    double x = 0.0;
    double y = 0.0;
    double s = 0.0;
    while (file >> x >> y >> s) {
        e.new_counts.push_back(x);
        e.old_counts.push_back(y);
    }
    return e;
}

std::vector<double> fitted_probabilities(const std::vector<double>& counts, int degree) {
    const int k = static_cast<int>(counts.size());
    std::vector<double> scores(counts.size());
    std::iota(scores.begin(), scores.end(), 0.0);
    std::vector<double> fitted(counts.size());
    std::vector<double> coefficients(counts.size() + 1);
    LogLinearOutcome outcome;
    EXPECT_TRUE(
        fit_loglinear(degree, scores, std::span(counts).first(k), fitted, coefficients, outcome));
    return normalised(fitted);
}

// A distribution of our own with empty scores inside and at both ends (also in
// tests/reference/kernel_reference.py).
const std::vector<double> kEmptyNew = {0,  2,  0, 5,  11, 0, 24, 31, 40, 0, 52,
                                       47, 39, 0, 28, 20, 0, 9,  4,  0,  0};
const std::vector<double> kEmptyOld = {1, 0,  4,  8,  0, 19, 27, 0, 45, 50, 44,
                                       0, 33, 25, 18, 0, 10, 6,  0, 2,  0};

// Distributions with their shapes' hard parts: the example's smooth fit, empty scores, two
// modes, two points, and nearly all mass on one score.
std::vector<std::vector<double>> test_distributions() {
    std::vector<double> bimodal(31);
    for (int j = 0; j < 31; ++j) {
        bimodal[j] =
            std::exp(-(j - 8) * (j - 8) / 8.0) + 0.5 * std::exp(-(j - 25) * (j - 25) / 18.0);
    }
    return {fitted_probabilities(example_counts().new_counts, 6),
            normalised(kEmptyNew),
            normalised(bimodal),
            {0.5, 0.5},
            {1e-6, 1.0 - 2e-6, 1e-6}};
}

TEST(KernelEquating, BandwidthGrid) {
    EXPECT_EQ(bandwidth_grid_point(0), 0.01);
    EXPECT_NEAR(bandwidth_grid_point(kBandwidthGridPoints - 1), 20.0, 1e-12);
    EXPECT_NEAR(bandwidth_grid_point(100) / bandwidth_grid_point(99),
                std::exp(std::log(2000.0) / 199.0), 1e-15);
    for (int i = 1; i < kBandwidthGridPoints; ++i) {
        EXPECT_LT(bandwidth_grid_point(i - 1), bandwidth_grid_point(i));
    }
}

// The evaluation skips terms, stops sums early and forms the centres once; it must give the bits
// of the plain loops, and PEN1 stopped at a threshold must keep the comparison with it.
TEST(KernelEquating, FastEvaluationMatchesThePlainLoopsBitForBit) {
    const double bandwidths[] = {
        bandwidth_grid_point(0),  bandwidth_grid_point(50), 0.31, 0.5966, 0.74, 1.7, 6.0,
        bandwidth_grid_point(199)};
    for (const std::vector<double>& r : test_distributions()) {
        const int k = static_cast<int>(r.size());
        std::vector<double> centres(r.size());
        for (const double h : bandwidths) {
            const double full = plain_pen1(r, h);
            EXPECT_TRUE(same_bits(pen1(r, h), full)) << "K " << k << " h " << h;
            for (const double stop : {0.0, full / 2, std::nextafter(full, 0.0), full, kInf}) {
                const double v = pen1(r, h, centres, stop);
                EXPECT_TRUE(v <= stop ? same_bits(v, full) : (v > stop && full >= v));
            }
            Continuized c;
            ASSERT_TRUE(continuize(r, h, c));
            const Plain plain(r, h);
            for (const double x : {-3.0, 0.0, 0.37, k / 2.0, k - 1.0, k + 2.5}) {
                EXPECT_TRUE(same_bits(continuized_density(c, x), plain.density(x))) << x;
                EXPECT_TRUE(same_bits(continuized_cdf(c, x), plain.cdf(x))) << x;
                EXPECT_TRUE(same_bits(continuized_upper_tail(c, x), plain.upper(x))) << x;
            }
        }
        double h = 0.0;
        ASSERT_TRUE(select_bandwidth(r, h));
        EXPECT_TRUE(same_bits(h, plain_bandwidth(r))) << "K " << k << " h " << h;
    }
}

// Integrated by the trapezoid rule (exponentially accurate for these Gaussian mixtures at a step of
// a quarter of the kernels' standard deviation), the density has mass 1, mean mu and variance
// sigma^2; and the two tails add up to 1.
TEST(KernelEquating, ContinuizationKeepsTheMeanAndVariance) {
    for (const std::vector<double>& r : test_distributions()) {
        for (const double h : {0.1, 0.6, 3.0, 20.0}) {
            Continuized c;
            ASSERT_TRUE(continuize(r, h, c));
            const double step = c.scale / 4.0;
            const double from = c.shift - 12.0 * c.scale;
            const double to = c.a * static_cast<double>(r.size() - 1) + c.shift + 12.0 * c.scale;
            double moments[3] = {};
            double compensation[3] = {};  // Neumaier's compensated sums
            const int points = static_cast<int>((to - from) / step) + 1;
            for (int i = 0; i <= points; ++i) {
                const double x = from + i * step;
                const double f = continuized_density(c, x) * step;
                const double terms[3] = {f, f * x, f * (x - c.mean) * (x - c.mean)};
                for (int m = 0; m < 3; ++m) {
                    const double t = moments[m] + terms[m];
                    compensation[m] += std::fabs(moments[m]) >= std::fabs(terms[m])
                                           ? (moments[m] - t) + terms[m]
                                           : (terms[m] - t) + moments[m];
                    moments[m] = t;
                }
                EXPECT_NEAR(continuized_cdf(c, x) + continuized_upper_tail(c, x), 1.0, 1e-15);
            }
            EXPECT_NEAR(moments[0] + compensation[0], 1.0, 1e-12) << "h " << h;
            EXPECT_NEAR(moments[1] + compensation[1], c.mean, 1e-12 * std::max(1.0, c.mean));
            EXPECT_NEAR(moments[2] + compensation[2], c.variance,
                        1e-12 * std::max(1.0, c.variance));
        }
    }
}

// For r = (1/2, 1/2), PEN1 = 2 (1/2 - f_h(0))^2, which is 0 where f_h(0) = 1/2, a root that
// mpmath finds at 30 digits (f_h(0) falls with h there).
TEST(KernelEquating, BandwidthMinimisesPen1OfATwoPointDistribution) {
    double h = 0.0;
    ASSERT_TRUE(select_bandwidth(std::vector<double>{0.5, 0.5}, h));
    EXPECT_NEAR(h, 0.739576067188823985963418924261, 1e-9);
}

TEST(KernelEquating, EquatingAFormWithItselfIsTheIdentity) {
    const Example e = example_counts();
    for (const std::vector<double>& counts : {e.new_counts, kEmptyNew}) {
        const std::vector<double> r = normalised(counts);
        const double n = std::accumulate(counts.begin(), counts.end(), 0.0);
        std::vector<double> equated(r.size());
        ASSERT_TRUE(kernel_equate(SamplePair{r, r, n, n}, 6, 6, equated));
        for (std::size_t x = 0; x < r.size(); ++x) {
            EXPECT_NEAR(equated[x], static_cast<double>(x), 1e-9);
        }
    }
}

// Values from tests/reference/kernel_reference.py, which equates again from the formulas (see
// there for how to rerun it).
TEST(KernelEquating, AgreesWithTheIndependentReference) {
    struct Case {
        std::vector<double> new_counts;
        std::vector<double> old_counts;
        int degree_x;
        int degree_y;
        std::vector<double> expected;
    };
    const Example e = example_counts();
    const Case cases[] = {
        // actmath, degree 3: hx = 0.5649433646, hy = 0.5580340332
        {e.new_counts,
         e.old_counts,
         3,
         3,
         {-0.5616473333, -0.0113270902, 0.5643543994,  1.2553003445,  2.0656346377,  2.9668584472,
          3.9321595884,  4.9414459997,  5.9806715755,  7.0404178074,  8.1145169104,  9.1989689753,
          10.2911629959, 11.3893380835, 12.4922283143, 13.5988565959, 14.7084488515, 15.8204249529,
          16.9344057668, 18.0501801754, 19.1676051156, 20.2864502144, 21.4062347181, 22.5261279441,
          23.6449676020, 24.7613739136, 25.8738565658, 26.9808211603, 28.0804807595, 29.1707645195,
          30.2493201488, 31.3136453031, 32.3613123096, 33.3902215064, 34.3988366381, 35.3863856512,
          36.3530231323, 37.2999470037, 38.2294528914, 39.1452265719, 40.0637398002}},
        // actmath, degree 6: hx = 0.5966322286, hy = 0.5832142320
        {e.new_counts,
         e.old_counts,
         6,
         6,
         {-0.7388935109, 0.0453089301,  0.9129697189,  1.8073837947,  2.7071310585,  3.6082109481,
          4.5112506347,  5.4190355007,  6.3354289094,  7.2648069854,  8.2119308943,  9.1818855196,
          10.1797800055, 11.2101423959, 12.2760882847, 13.3784053775, 14.5147210498, 15.6790339305,
          16.8622527023, 18.0540784663, 19.2448791640, 20.4263072686, 21.5916369902, 22.7364534835,
          23.8588074279, 24.9586112324, 26.0369233583, 27.0954774637, 28.1364151531, 29.1621161368,
          30.1750697651, 31.1777649736, 32.1725874962, 33.1617197974, 34.1470455045, 35.1300641167,
          36.1118193990, 37.0928309675, 38.0729825480, 39.0512363924, 40.0254314647}},
        // empty scores, degrees 4 and 3: hx = 0.6641696935, hy = 0.6546382378
        {kEmptyNew, kEmptyOld, 4, 3, {-0.2976621160, 0.5749016756,  1.5265667815,  2.5229864033,
                                      3.5264734581,  4.5242368583,  5.5137114301,  6.4962095584,
                                      7.4747125695,  8.4530552394,  9.4355879308,  10.4270079302,
                                      11.4322446122, 12.4563366793, 13.5042297350, 14.5803408032,
                                      15.6874833269, 16.8240039091, 17.9758774871, 19.0965144613,
                                      20.1086204134}},
    };
    for (const Case& c : cases) {
        const std::vector<double> rx = normalised(c.new_counts);
        const std::vector<double> ry = normalised(c.old_counts);
        const double nx = std::accumulate(c.new_counts.begin(), c.new_counts.end(), 0.0);
        const double ny = std::accumulate(c.old_counts.begin(), c.old_counts.end(), 0.0);
        std::vector<double> equated(rx.size());
        ASSERT_TRUE(kernel_equate(SamplePair{rx, ry, nx, ny}, c.degree_x, c.degree_y, equated));
        for (std::size_t x = 0; x < rx.size(); ++x) {
            EXPECT_NEAR(equated[x], c.expected[x], 1e-7) << "degree " << c.degree_x << " x " << x;
        }
    }
}

TEST(KernelEquating, FailuresWriteNothing) {
    const std::vector<double> r = normalised(kEmptyNew);
    const std::vector<double> one_score = {0.0, 1.0, 0.0};
    const std::vector<double> single = {1.0};
    const std::vector<double> with_nan = {0.25, std::nan(""), 0.5};
    struct Case {
        const char* what;
        SamplePair samples;
        int degree_x;
        int degree_y;
        std::size_t room;
    };
    const Case cases[] = {
        {"degree 0", SamplePair{r, r, 100, 100}, 0, 3, r.size()},
        {"no room", SamplePair{r, r, 100, 100}, 3, 3, r.size() - 1},
        {"one score point", SamplePair{single, r, 100, 100}, 3, 3, r.size()},
        {"no spread (saturated fit of one score)", SamplePair{one_score, r, 10, 100}, 2, 3, 3},
        {"NaN frequency", SamplePair{with_nan, r, 100, 100}, 1, 3, 3},
    };
    for (const Case& c : cases) {
        std::vector<double> equated(c.room, -1.0);
        EXPECT_FALSE(kernel_equate(c.samples, c.degree_x, c.degree_y, equated)) << c.what;
        for (const double v : equated) {
            EXPECT_EQ(v, -1.0) << c.what;
        }
    }
    Continuized c;
    EXPECT_FALSE(continuize(r, 0.0, c));
    EXPECT_FALSE(continuize(r, std::nan(""), c));
    EXPECT_FALSE(continuize(std::vector<double>{0.5, 1.5}, 0.6, c));
    EXPECT_TRUE(std::isnan(pen1(one_score, 0.6)));
    double h = -1.0;
    EXPECT_FALSE(select_bandwidth(one_score, h));
}

}  // namespace
}  // namespace eqsim
