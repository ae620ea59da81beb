#include "engine/numeric/normal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "support/mpfr_reference.h"
#include "support/normal_reference.h"

namespace eqsim {
namespace {

using testing::ArgumentStream;
using testing::NormalReference;
using testing::same_double;
using testing::ulp_distance;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
    double z;
    double expected;
};

// Beyond |z| = 40 and at the infinities the values are exact; 1/sqrt(2 pi) and 1/2 at 0 are
// correctly rounded; Phi is exactly 1 above 9 and 0 where it underflows (Q(38.5) < 2^-1075).
TEST(Normal, SpecialValues) {
    const double c = 0x1.9884533d43651p-2;  // 1/sqrt(2 pi) rounded
    const double tiny = 0x1p-1074;
    const Case cdf_cases[] = {
        {0.0, 0.5},    {-0.0, 0.5}, {tiny, 0.5},  {-tiny, 0.5}, {1e-300, 0.5}, {kInf, 1.0},
        {-kInf, 0.0},  {40.0, 1.0}, {-40.0, 0.0}, {41.0, 1.0},  {-41.0, 0.0},  {1e300, 1.0},
        {-1e300, 0.0}, {9.5, 1.0},  {-38.5, 0.0}, {kNaN, kNaN}, {-kNaN, kNaN},
    };
    for (const Case& k : cdf_cases) {
        EXPECT_TRUE(same_double(normal_cdf(k.z), k.expected)) << "Phi(" << k.z << ")";
    }
    const Case pdf_cases[] = {
        {0.0, c},    {-0.0, c},    {tiny, c},   {1e-300, c},   {kInf, 0.0},  {-kInf, 0.0},
        {40.0, 0.0}, {-40.0, 0.0}, {38.7, 0.0}, {-1e300, 0.0}, {kNaN, kNaN},
    };
    for (const Case& k : pdf_cases) {
        EXPECT_TRUE(same_double(normal_pdf(k.z), k.expected)) << "phi(" << k.z << ")";
    }
    EXPECT_EQ(gaussian(0.0), 1.0);
    EXPECT_EQ(gaussian(-40.0), 0.0);
    EXPECT_TRUE(gaussian(kNaN) != gaussian(kNaN));
}

// A few thousand arguments against MPFR's erfc and exp, over the whole range, near 0, tiny ones,
// and where Phi and phi are subnormal; each result within 1 ulp of the correctly rounded value
// (the bounds derived in normal.cpp), the Gaussian within 0.51 ulp of the exact value.
TEST(Normal, RandomArgumentsMatchMpfr) {
    NormalReference mpfr;
    ArgumentStream stream(21);
    int far = 0;
    double worst_gaussian = 0.0;
    for (int i = 0; i < 3000; ++i) {
        const double tiny = stream.uniform(0x1p-60, 0x1p-20);
        const double zs[] = {stream.uniform(-40.0, 40.0), stream.uniform(-2.0, 2.0),
                             (i % 2 == 0 ? tiny : -tiny), stream.uniform(-38.7, -37.3),
                             stream.uniform(37.3, 38.7)};
        for (const double z : zs) {
            mpfr.cdf(z, NormalReference::Route::erfc);
            far += ulp_distance(normal_cdf(z), mpfr.rounded()) > 1 ? 1 : 0;
            mpfr.pdf(z);
            far += ulp_distance(normal_pdf(z), mpfr.rounded()) > 1 ? 1 : 0;
            mpfr.gaussian(z);
            if (mpfr.rounded() >= 0x1p-1022) {
                worst_gaussian = std::max(worst_gaussian, mpfr.error_in_ulps(gaussian(z)));
            }
        }
    }
    EXPECT_EQ(far, 0);
    EXPECT_LT(worst_gaussian, 0.51);
}

// The two-wide Gaussian gives gaussian's bits lane by lane, on its vector path and off it (tiny,
// large, zero-valued and NaN lanes).
TEST(Normal, GaussianPairMatchesGaussian) {
    ArgumentStream stream(23);
    const double edges[] = {0.0, 0x1p-27, 0x1p-26, 37.6, 37.61, 38.7, 50.0, kInf, kNaN};
    int mismatches = 0;
    for (int i = 0; i < 20000; ++i) {
        const double z0 = stream.uniform(-40.0, 40.0);
        const double z1 = i % 4 == 0 ? edges[i / 4 % 9] : stream.uniform(-12.0, 12.0);
        double g0 = 0.0;
        double g1 = 0.0;
        gaussian_pair(z0, z1, g0, g1);
        mismatches += same_double(g0, gaussian(z0)) && same_double(g1, gaussian(z1)) ? 0 : 1;
    }
    EXPECT_EQ(mismatches, 0);
}

// The exhaustive test's fast route (Laplace's continued fraction) agrees with MPFR's erfc far
// below the rounding of a double.
TEST(Normal, ContinuedFractionReferenceMatchesErfc) {
    NormalReference mpfr;
    ArgumentStream stream(22);
    mpfr_t erfc_value;
    mpfr_init2(erfc_value, 128);
    for (int i = 0; i < 60; ++i) {
        const double z = i % 3 == 0 ? stream.uniform(5.0, 9.0) : stream.uniform(-38.0, -5.0);
        mpfr.cdf(z, NormalReference::Route::erfc);
        mpfr_set(erfc_value, mpfr.value(), MPFR_RNDN);
        mpfr.cdf(z, NormalReference::Route::continued_fraction);
        mpfr_sub(erfc_value, erfc_value, mpfr.value(), MPFR_RNDN);
        mpfr_div(erfc_value, erfc_value, mpfr.value(), MPFR_RNDN);
        mpfr_abs(erfc_value, erfc_value, MPFR_RNDN);
        EXPECT_LT(mpfr_get_d(erfc_value, MPFR_RNDN), 0x1p-100) << "z = " << z;
    }
    mpfr_clear(erfc_value);
}

}  // namespace
}  // namespace eqsim
