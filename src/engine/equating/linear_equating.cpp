#include "engine/equating/linear_equating.h"

#include <cmath>

namespace eqsim {

void compute_moments(std::span<const double> p, Moments& result) {
    const int max_score = static_cast<int>(p.size()) - 1;
    double mean = 0.0;
    for (int i = 1; i <= max_score; ++i) {
        mean += static_cast<double>(i) * p[i];
    }
    double variance = 0.0;
    for (int i = 0; i <= max_score; ++i) {
        const double d = static_cast<double>(i) - mean;
        variance += d * d * p[i];
    }
    result.mean = mean;
    result.sd = std::sqrt(variance);
}

bool linear_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                   bool mean_only, std::span<double> equated) {
    const int kx = static_cast<int>(new_dist.size());
    Moments mx;
    Moments my;
    compute_moments(new_dist, mx);
    compute_moments(old_dist, my);
    double slope = 1.0;
    if (!mean_only) {
        // A sample with every examinee on one score has no spread to match.
        if (mx.sd == 0.0) {
            return false;
        }
        slope = my.sd / mx.sd;
    }
    const double intercept = my.mean - slope * mx.mean;
    for (int i = 0; i < kx; ++i) {
        equated[i] = static_cast<double>(i) * slope + intercept;
    }
    return true;
}

}  // namespace eqsim
