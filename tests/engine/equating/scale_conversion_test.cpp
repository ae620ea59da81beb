#include "engine/equating/scale_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace eqsim {
namespace {

const std::vector<double> table = {10.0, 12.0, 15.0, 19.0, 20.0};

double unrounded(double x) {
    std::vector<double> out(1);
    interpolate_conversion(std::vector<double>{x}, table, 0.0, 4.0, 1.0, out);
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
    convert_to_scale(ScaleSpec{10.0, 20.0, 1.0}, equated, table, u, r);
    EXPECT_DOUBLE_EQ(u[0], 9.0);
    EXPECT_DOUBLE_EQ(u[1], 13.5);
    EXPECT_DOUBLE_EQ(u[2], 19.9);
    EXPECT_EQ(r, (std::vector<double>{10.0, 14.0, 20.0}));
}

// The scale's limits at their edges: each row is usable or not by a hair.
TEST(ScaleIsUsable, LimitsHoldExactlyAtTheirEdges) {
    const struct {
        ScaleSpec scale;
        bool usable;
    } rows[] = {
        {{-2147483646.0, -2147483640.0, 1.0}, true},
        {{-2147483647.0, -2147483640.0, 1.0}, false},  // exactly 2147483647 increments from 0
        {{2147483640.0, 2147483646.0, 1.0}, true},
        {{2147483640.0, 2147483647.0, 1.0}, false},
        {{0.0, 1073741823.0, 0.5}, false},  // too many points, whatever the ends
        {{1073741800.0, 1073741823.0, 0.5}, true},
        {{1073741800.0, 1073741823.5, 0.5}, false},  // 2147483647 half increments
        {{0.0, 32766.0, 1.0}, true},                 // 32767 points
        {{0.0, 32767.0, 1.0}, false},
        {{5.0, 5.0, 1.0}, true},
        {{5.0, 4.999, 1.0}, false},
        {{1.0, 36.0, 0.0}, false},
    };
    for (const auto& row : rows) {
        std::string problem;
        EXPECT_EQ(scale_is_usable(row.scale, problem), row.usable)
            << row.scale.min << " " << row.scale.max << " " << row.scale.increment << ": "
            << problem;
    }
}

// Rounding holds a scale score at an end of the scale when it lies more than half an increment
// beyond it; exactly half an increment still rounds onto the scale.
TEST(ShareOutsideScale, HalfAnIncrementOutsideIsStillOnTheScale) {
    const std::vector<double> frequencies = {1.0, 1.0};
    const ScaleSpec scale{1.0, 36.0, 1.0};
    EXPECT_EQ(share_outside_scale(std::vector<double>{0.5, 36.5}, frequencies, scale), 0.0);
    EXPECT_EQ(share_outside_scale(std::vector<double>{0.4999999, 36.5}, frequencies, scale), 0.5);
    EXPECT_EQ(share_outside_scale(std::vector<double>{0.5, 36.5000001}, frequencies, scale), 0.5);
    EXPECT_EQ(share_outside_scale(std::vector<double>{0.5}, std::vector<double>{0.0}, scale), 0.0);
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
