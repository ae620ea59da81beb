// Conversion of equated raw scores to the reporting scale: linear interpolation in the old
// form's raw-to-scale table (straight-line extrapolation beyond its ends), then rounding to the
// scale's increment within its minimum and maximum.
#pragma once

#include <span>
#include <string>

namespace eqsim {

struct ScaleSpec {
    double min = 1.0;
    double max = 36.0;
    double increment = 1.0;
};

// Most points a scale may have (a count the histogram's rows must hold).
inline constexpr int kMaxScalePoints = 32767;

// The number of points of a scale, computed in floating point.
double scale_point_count(const ScaleSpec& scale);

// True when a run can use the scale: finite values, an increment above 0, a maximum not below
// the minimum, at most kMaxScalePoints points, and both ends within 2147483647 increments of 0
// (so that rounding stays in 32-bit range). Otherwise problem says what is wrong.
bool scale_is_usable(const ScaleSpec& scale, std::string& problem);

// The share of a population (frequencies of raw scores 0, 1, ...) whose scale scores in
// conversion lie more than half an increment outside the scale, where rounding holds them at its
// ends. 0 when the total is not positive.
double share_outside_scale(std::span<const double> conversion, std::span<const double> frequencies,
                           const ScaleSpec& scale);

void convert_to_scale(const ScaleSpec& spec, std::span<const double> equated,
                      std::span<const double> conversion, std::span<double> unrounded,
                      std::span<double> rounded);

// Reads values off a table (at least two entries) whose raw-score grid runs from low to high by
// step, writing one value of out for each of values.
void interpolate_conversion(std::span<const double> values, std::span<const double> table,
                            double low, double high, double step, std::span<double> out);

// Rounds to the multiples of increment (counted from 0), returning the bounds for values at or
// beyond them.
double round_to_scale(double value, double minimum, double maximum, double increment);

// The index of a rounded scale score among the scale's scale_points points, from 0 at the
// minimum: trunc((rounded_score - min) / increment + 0.5). Scales whose ends are not multiples of
// the increment can round just past them; such a score (and one that is not a number) is held at
// the nearest end, so the index is always 0 to scale_points - 1.
int scale_point_index(double rounded_score, const ScaleSpec& scale, int scale_points);

// The scale point (0 at the minimum) that score is, within 1e-9 of an increment, or false when it
// is no point of the scale.
bool scale_point_of(double score, const ScaleSpec& scale, std::int32_t& point);

}  // namespace eqsim
