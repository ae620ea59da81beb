#include "engine/equating/scale_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace eqsim {
namespace {

const std::vector<double> table = {10.0, 12.0, 15.0, 19.0, 20.0};

double unrounded(double x) {
    std::vector<double> out(1);
    interpolate_conversion(1, 5, std::vector<double>{x}, table, 0.0, 4.0, 1.0, out);
    return out[0];
}

TEST(InterpolateConversion, ReadsTheTableAndExtendsItsEndSegments) {
    EXPECT_DOUBLE_EQ(unrounded(2.0), 15.0);
    EXPECT_DOUBLE_EQ(unrounded(2.25), 16.0);
    EXPECT_DOUBLE_EQ(unrounded(0.0), 10.0);
    EXPECT_DOUBLE_EQ(unrounded(4.0), 20.0);
    EXPECT_DOUBLE_EQ(unrounded(-0.5), 10.0 - 0.5 * 2.0);
    EXPECT_DOUBLE_EQ(unrounded(4.5), 20.0 + 0.5 * 1.0);
    EXPECT_DOUBLE_EQ(unrounded(-3.0), 4.0);
}

TEST(RoundToScale, RoundsOnTheIncrementGridFromZeroAndClampsBeforeRounding) {
    EXPECT_EQ(round_to_scale(150.5, 100, 200, 1), 151);
    EXPECT_EQ(round_to_scale(150.49, 100, 200, 1), 150);
    EXPECT_EQ(round_to_scale(250, 100, 200, 1), 200);
    EXPECT_EQ(round_to_scale(200, 100, 200, 1), 200);
    EXPECT_EQ(round_to_scale(99, 100, 200, 1), 100);
    EXPECT_EQ(round_to_scale(4.2, 1, 199, 2), 4);
    EXPECT_EQ(round_to_scale(4.9, 1, 199, 2), 4);
    EXPECT_EQ(round_to_scale(5.0, 1, 199, 2), 6);
    EXPECT_EQ(round_to_scale(9.7, 0, 9.8, 1), 10);
    EXPECT_EQ(round_to_scale(-1.7, -5, 5, 1), -1);
    EXPECT_EQ(round_to_scale(-0.7, -5, 5, 1), 0);
}

TEST(ConvertToScale, FillsBothArraysForEveryNewFormScore) {
    const std::vector<double> equated = {-0.5, 1.5, 3.9};
    std::vector<double> u(3);
    std::vector<double> r(3);
    convert_to_scale(3, 5, ScaleSpec{10.0, 20.0, 1.0}, equated, table, u, r);
    EXPECT_DOUBLE_EQ(u[0], 9.0);
    EXPECT_DOUBLE_EQ(u[1], 13.5);
    EXPECT_DOUBLE_EQ(u[2], 19.9);
    EXPECT_EQ(r, (std::vector<double>{10.0, 14.0, 20.0}));
}

// The histogram's column and the decisions' scale point of a rounded score: its position on the
// grid from the minimum, held at the ends.
TEST(ScalePointIndex, CountsIncrementsFromTheMinimumAndHoldsAtTheEnds) {
    const struct {
        double rounded;
        ScaleSpec scale;
        int points;
        int index;
    } rows[] = {
        {1.0, {1.0, 36.0, 1.0}, 36, 0},   {36.0, {1.0, 36.0, 1.0}, 36, 35},
        {4.0, {1.0, 199.0, 2.0}, 100, 2},  // off the grid: (4 - 1) / 2 + 0.5 = 2
        {10.0, {0.0, 9.8, 1.0}, 11, 10},   // rounded past a maximum that is off the grid
        {11.0, {0.0, 9.8, 1.0}, 11, 10},   // beyond the last point
        {-3.0, {-2.0, 2.0, 0.5}, 9, 0},    // below the first
        {0.5, {-2.0, 2.0, 0.5}, 9, 5},    {std::nan(""), {1.0, 36.0, 1.0}, 36, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(scale_point_index(row.rounded, row.scale, row.points), row.index) << row.rounded;
    }
}

}  // namespace
}  // namespace eqsim
