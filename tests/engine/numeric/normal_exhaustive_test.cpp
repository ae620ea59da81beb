// 10^7 arguments uniform on [-40, 40] for normal_cdf and normal_pdf (and the Gaussian behind
// them) against MPFR: no result more than 2 ulp from the correctly rounded value. Prints, for
// each function, how many results lie 0, 1, 2 and more ulps from it and the largest error
// against the exact value.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "engine/numeric/normal.h"
#include "support/mpfr_reference.h"
#include "support/normal_reference.h"

namespace eqsim {
namespace {

using testing::ArgumentStream;
using testing::NormalReference;
using testing::ulp_distance;

constexpr std::int64_t kArguments = 10'000'000;

struct Tally {
    std::int64_t by_distance[4] = {};  // 0, 1, 2, more
    double worst[2] = {};              // against the exact value, in ulps: normal, subnormal
    double worst_at[2] = {};

    void add(double got, double rounded, double error, double z) {
        const std::uint64_t distance = ulp_distance(got, rounded);
        ++by_distance[distance < 3 ? distance : 3];
        const int range = rounded < 0x1p-1022 ? 1 : 0;
        if (error > worst[range]) {
            worst[range] = error;
            worst_at[range] = z;
        }
    }
    void print(const char* name) const {
        std::printf(
            "%-8s ulps from the correctly rounded value: 0: %lld  1: %lld  2: %lld  "
            "more: %lld\n         largest error: %.3f ulp at %a; %.3f ulp at %a for "
            "subnormal results\n",
            name, static_cast<long long>(by_distance[0]), static_cast<long long>(by_distance[1]),
            static_cast<long long>(by_distance[2]), static_cast<long long>(by_distance[3]),
            worst[0], worst_at[0], worst[1], worst_at[1]);
    }
};

TEST(NormalExhaustive, TenMillionArgumentsWithinTwoUlps) {
    NormalReference mpfr;
    ArgumentStream stream(31);
    Tally cdf;
    Tally pdf;
    Tally gauss;
    for (std::int64_t i = 0; i < kArguments; ++i) {
        const double z = stream.uniform(-40.0, 40.0);
        mpfr.gaussian(z);
        double got = gaussian(z);
        gauss.add(got, mpfr.rounded(), mpfr.error_in_ulps(got), z);
        mpfr.pdf(z);
        got = normal_pdf(z);
        pdf.add(got, mpfr.rounded(), mpfr.error_in_ulps(got), z);
        // Above 9, Phi(z) rounds to 1 (Q(9) < 2^-62, checked below); normal_cdf returns 1.
        got = normal_cdf(z);
        if (z <= 9.0) {
            mpfr.cdf(z);
            cdf.add(got, mpfr.rounded(), mpfr.error_in_ulps(got), z);
        } else {
            cdf.add(got, 1.0, 0.0, z);
        }
    }
    cdf.print("Phi");
    pdf.print("phi");
    gauss.print("Gaussian");
    EXPECT_EQ(cdf.by_distance[3], 0);
    EXPECT_EQ(pdf.by_distance[3], 0);
    EXPECT_EQ(gauss.by_distance[3], 0);

    mpfr.cdf(-9.0);
    EXPECT_LT(mpfr.rounded(), 0x1p-62);
}

}  // namespace
}  // namespace eqsim
