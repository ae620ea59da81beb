// Cubic-spline post-smoothing: unsmoothed equivalents in both directions with their standard
// errors, a smoothing spline through each, straight-line extensions to the ends of both scales,
// and the average of the new-to-old function with the inverse of the old-to-new one.
#pragma once

#include <cstdint>
#include <span>

namespace eqsim {

// Returns 0 on success and 1 on failure (the reverse of the other equating methods).
// outputs[i] receives the equated scores for smoothing_values[i], i < count, over
// new_low..new_high. The frequency arrays are only read.
std::int16_t postsmooth_equate(int new_low, int new_high, int old_low, int old_high,
                               double new_size, double old_size, std::span<const double> new_rel,
                               std::span<const double> old_rel,
                               std::span<const std::span<double>> outputs,
                               std::span<const double> smoothing_values, int count,
                               double tail_cut);

}  // namespace eqsim
