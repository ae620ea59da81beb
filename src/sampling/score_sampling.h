// Drawing samples of examinees from a population score distribution: the cumulative table with
// its lookup of search starting points, and the multinomial draw one examinee at a time.
#pragma once

#include <cstdint>
#include <span>

namespace eqsim {

// Turns distribution (k relative frequencies) into its cumulative table in place, the last entry
// forced to 1.0, and fills lookup (trunc(lookup_scale) + 1 slots) with the smallest score whose
// scaled cumulative value reaches each slot.
void build_sampling_table(int k, double lookup_scale, std::span<double> distribution,
                          std::span<std::int32_t> lookup);

// Draws n scores and leaves in counts[j] how many of them equal j.
void draw_score_counts(std::int32_t n, int k, double lookup_scale,
                       std::span<const double> cumulative, std::span<const std::int32_t> lookup,
                       std::span<std::int32_t> counts);

}  // namespace eqsim
