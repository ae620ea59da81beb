// Unsmoothed equipercentile equating: each new-form score goes to the old-form score with the
// same percentile rank. Owns the shared operation used by the unsmoothed method and by log-linear
// pre-smoothing, including the small uniform mass mixed into distributions with a flat step.
#pragma once

#include <span>

namespace eqsim {

// Equates copies of two sample distributions; the inputs are left untouched.
// Returns 1 on success, 0 when working storage cannot be had (equated is then untouched).
int equate_unsmoothed(int kx, int ky, std::span<const double> new_dist,
                      std::span<const double> old_dist, std::span<double> equated);

// The shared operation. Both frequency arrays are overwritten by their cumulative distributions.
void equipercentile_equate(int kx, int ky, double score_min, double score_increment,
                           std::span<double> new_freq, std::span<double> old_freq,
                           double uniform_mass, std::span<double> equated);

}  // namespace eqsim
