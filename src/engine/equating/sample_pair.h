// One replication's pair of samples as every equating method receives them.
#pragma once

#include <span>

#include "engine/equating/anchor_equating.h"

namespace eqsim {

// Relative frequencies over each form's raw scores 0..K-1, and the sample sizes they come from
// (the smoothing methods work with counts). In the anchor-test design the relative frequencies
// are each group's total scores' and anchor holds the groups' tables of total and anchor scores.
struct SamplePair {
    std::span<const double> new_relative;  // Kx values summing to 1
    std::span<const double> old_relative;  // Ky values summing to 1
    double new_size = 0.0;
    double old_size = 0.0;
    const AnchorPair* anchor = nullptr;  // anchor-test design only
};

}  // namespace eqsim
