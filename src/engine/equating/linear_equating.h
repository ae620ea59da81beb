// Linear and mean equating: the new form's scores are matched to the old form's by the first two
// moments (linear) or the first moment only (mean) of the two sample distributions.
#pragma once

#include <span>

namespace eqsim {

struct Moments {
    double mean = 0.0;
    double sd = 0.0;
};

// Mean and population standard deviation of distribution p over raw scores 0..K-1.
void compute_moments(std::span<const double> p, Moments& result);

// Linear equating, or mean equating when mean_only. False when linear equating meets a new-form
// standard deviation of 0 (nothing is then written).
bool linear_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                   bool mean_only, std::span<double> equated);

}  // namespace eqsim
