#include "engine/equating/linear_equating.h"

#include <gtest/gtest.h>

#include <vector>

namespace eqsim {
namespace {

const std::vector<double> new_form = {0.2, 0.3, 0.5};
const std::vector<double> old_form = {0.3, 0.4, 0.3};

TEST(Moments, MeanAndPopulationStandardDeviation) {
    Moments m;
    compute_moments(new_form, m);
    EXPECT_NEAR(m.mean, 1.3, 1e-15);
    EXPECT_NEAR(m.sd, 0.7810250, 1e-7);
    compute_moments(old_form, m);
    EXPECT_NEAR(m.mean, 1.0, 1e-15);
    EXPECT_NEAR(m.sd, 0.7745967, 1e-7);
    compute_moments(std::vector<double>{0.0, 0.0, 1.0, 0.0}, m);
    EXPECT_EQ(m.mean, 2.0);
    EXPECT_EQ(m.sd, 0.0);
}

TEST(LinearEquate, LinearAndMeanMethodsOnAWorkedExample) {
    std::vector<double> equated(3);
    ASSERT_TRUE(linear_equate(new_form, old_form, false, equated));
    EXPECT_NEAR(equated[0], -0.2893002, 1e-7);
    EXPECT_NEAR(equated[1], 0.7024692, 1e-7);
    EXPECT_NEAR(equated[2], 1.6942386, 1e-7);
    ASSERT_TRUE(linear_equate(new_form, old_form, true, equated));
    EXPECT_NEAR(equated[0], -0.3, 1e-15);
    EXPECT_NEAR(equated[1], 0.7, 1e-15);
    EXPECT_NEAR(equated[2], 1.7, 1e-15);
}

TEST(LinearEquate, IdenticalFormsGiveTheIdentityAndFormsMayDifferInLength) {
    const std::vector<double> dist = {0.1, 0.2, 0.4, 0.2, 0.1};
    std::vector<double> equated(5);
    for (const std::int16_t mean_only : {0, 1}) {
        ASSERT_TRUE(linear_equate(dist, dist, mean_only, equated));
        for (int i = 0; i < 5; ++i) {
            EXPECT_NEAR(equated[i], i, 1e-12);
        }
    }
    // Old form shifted up by 1.5 over a longer scale: mean equating adds 1.5.
    const std::vector<double> shifted = {0.0, 0.05, 0.05, 0.1, 0.2, 0.4, 0.2};
    std::vector<double> equated3(3);
    ASSERT_TRUE(linear_equate(std::vector<double>{0.25, 0.5, 0.25}, shifted, true, equated3));
    Moments m;
    compute_moments(shifted, m);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(equated3[i], i + (m.mean - 1.0), 1e-12);
    }
}

TEST(LinearEquate, NewFormWithoutSpreadFailsLinearButNotMean) {
    const std::vector<double> point = {0.0, 1.0, 0.0};
    std::vector<double> equated(3, 42.0);
    EXPECT_FALSE(linear_equate(point, old_form, false, equated));
    EXPECT_EQ(equated[0], 42.0);
    EXPECT_TRUE(linear_equate(point, old_form, true, equated));
    EXPECT_NEAR(equated[1], 1.0, 1e-15);
}

}  // namespace
}  // namespace eqsim
