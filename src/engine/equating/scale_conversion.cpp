#include "engine/equating/scale_conversion.h"

#include <cmath>
#include <cstdint>

namespace eqsim {

double scale_point_count(const ScaleSpec& scale) {
    return std::trunc((scale.max - scale.min) / scale.increment + 0.5) + 1.0;
}

bool scale_is_usable(const ScaleSpec& scale, std::string& problem) {
    if (!std::isfinite(scale.min) || !std::isfinite(scale.max) || !std::isfinite(scale.increment)) {
        problem = "scale minimum, maximum and increment must be finite numbers";
        return false;
    }
    if (!(scale.increment > 0.0)) {
        problem = "scale increment must be above 0";
        return false;
    }
    if (scale.max < scale.min) {
        problem = "scale maximum is below its minimum";
        return false;
    }
    if (!(scale_point_count(scale) <= static_cast<double>(kMaxScalePoints))) {
        problem = "scale has more than " + std::to_string(kMaxScalePoints) + " points";
        return false;
    }
    constexpr double limit = 2147483647.0;
    if (!(std::fabs(scale.min) / scale.increment < limit) ||
        !(std::fabs(scale.max) / scale.increment < limit)) {
        problem = "scale minimum and maximum must lie within 2147483647 increments of 0";
        return false;
    }
    return true;
}

double share_outside_scale(std::span<const double> conversion, std::span<const double> frequencies,
                           const ScaleSpec& scale) {
    const double low = scale.min - 0.5 * scale.increment;
    const double high = scale.max + 0.5 * scale.increment;
    double total = 0.0;
    double outside = 0.0;
    for (std::size_t i = 0; i < conversion.size() && i < frequencies.size(); ++i) {
        total += frequencies[i];
        if (conversion[i] < low || conversion[i] > high) {
            outside += frequencies[i];
        }
    }
    return total > 0.0 ? outside / total : 0.0;
}

void convert_to_scale(const ScaleSpec& spec, std::span<const double> equated,
                      std::span<const double> conversion, std::span<double> unrounded,
                      std::span<double> rounded) {
    const int ky = static_cast<int>(conversion.size());
    interpolate_conversion(equated, conversion, 0.0, static_cast<double>(ky - 1), 1.0, unrounded);
    for (std::size_t i = 0; i < equated.size(); ++i) {
        rounded[i] = round_to_scale(unrounded[i], spec.min, spec.max, spec.increment);
    }
}

namespace {

// Index of the table interval that holds x, for low < x < high.
int interval_index(double x, double low, double step, int k) {
    const double t = std::floor((x - low) / step);
    // Only a value that is not a number can fall outside; keep the read inside the table.
    if (!(t >= 0.0)) {
        return 0;
    }
    if (t > static_cast<double>(k - 2)) {
        return k - 2;
    }
    return static_cast<int>(t);
}

}  // namespace

void interpolate_conversion(std::span<const double> values, std::span<const double> table,
                            double low, double high, double step, std::span<double> out) {
    const int k = static_cast<int>(table.size());
    const double below_high = high - step;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = values[i];
        double slope;
        double intercept;
        if (x >= high) {
            slope = (table[k - 1] - table[k - 2]) / step;
            intercept = table[k - 2] - slope * below_high;
        } else if (x <= low) {
            slope = (table[1] - table[0]) / step;
            intercept = table[0] - slope * low;
        } else {
            const int t = interval_index(x, low, step, k);
            slope = (table[t + 1] - table[t]) / step;
            intercept = table[t] - slope * (static_cast<double>(t) * step + low);
        }
        out[i] = slope * x + intercept;
    }
}

double round_to_scale(double value, double minimum, double maximum, double increment) {
    if (value >= maximum) {
        return maximum;
    }
    if (value <= minimum) {
        return minimum;
    }
    const double q = value / increment + 0.5;
    // Settings keep |minimum| and |maximum| below 2^31 - 1 increments, so q fits; the guard
    // only keeps a value that is not a number from reaching the conversion.
    if (!(q > -2147483648.0 && q < 2147483648.0)) {
        return value;
    }
    return increment * static_cast<double>(static_cast<std::int32_t>(q));
}

bool scale_point_of(double score, const ScaleSpec& scale, std::int32_t& point) {
    const double steps = (score - scale.min) / scale.increment;
    const double nearest = std::nearbyint(steps);
    if (!(std::fabs(steps - nearest) <= 1e-9) || !(nearest >= 0.0) ||
        !(nearest <= scale_point_count(scale) - 1.0)) {
        return false;
    }
    point = static_cast<std::int32_t>(nearest);
    return true;
}

int scale_point_index(double rounded_score, const ScaleSpec& scale, int scale_points) {
    const double slot = std::trunc((rounded_score - scale.min) / scale.increment + 0.5);
    if (!(slot >= 0.0)) {
        return 0;
    }
    if (slot > static_cast<double>(scale_points - 1)) {
        return scale_points - 1;
    }
    return static_cast<int>(slot);
}

}  // namespace eqsim
