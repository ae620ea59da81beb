// Log-linear pre-smoothing: each form's sample distribution is replaced by the maximum-likelihood
// fit of a polynomial log-linear model before the two fitted distributions are equated
// equipercentile-wise.
#pragma once

#include <cstdint>
#include <span>

namespace eqsim {

// Returns 1 on success, 0 on failure. nx, ny are the sample sizes; rx, ry the sample relative
// frequencies (only read); qx, qy the degrees, each capped at its form's score count less one.
int equate_presmoothed(int kx, int ky, double nx, double ny, std::span<const double> rx,
                       std::span<const double> ry, std::int16_t qx, std::int16_t qy,
                       std::span<double> equated);

}  // namespace eqsim
