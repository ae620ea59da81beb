// Drawing samples of examinees from a population score distribution: the cumulative table with
// its lookup of search starting points, and the multinomial draw one examinee at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/sampling/uniform_random.h"

namespace eqsim {

// Turns distribution (k relative frequencies) into its cumulative table in place, the last entry
// forced to 1.0, and fills lookup (trunc(lookup_scale) + 1 slots) with the smallest score whose
// scaled cumulative value reaches each slot.
void build_sampling_table(double lookup_scale, std::span<double> distribution,
                          std::span<std::int32_t> lookup);

// Draws n scores with random and leaves in counts[j] how many of them equal j.
void draw_score_counts(UniformRandom& random, std::int32_t n, double lookup_scale,
                       std::span<const double> cumulative, std::span<const std::int32_t> lookup,
                       std::span<std::int32_t> counts);

// The same draws from raw generator values, without floating point. A deviate is a raw value r
// divided by 2^31 - 1, and that quotient never decreases as r grows, so "the deviate exceeds
// cumulative[j]" is "r reaches threshold[j]", the smallest raw value whose deviate does. Buckets
// of raw values then give each draw a starting score no later than its answer: every draw lands
// on exactly the score the cumulative search finds, for any distribution.
struct RawSamplingTable {
    static constexpr int bucket_shift = 19;  // 4096 buckets over the raw values
    std::vector<std::uint32_t> thresholds;   // k entries; the last is above every raw value
    std::vector<std::int32_t> start;         // per bucket, the score of its smallest raw value
};

// Builds the raw-value table of a cumulative table made by build_sampling_table.
void build_raw_sampling_table(std::span<const double> cumulative, RawSamplingTable& table);

// Draws n scores as draw_score_counts does, leaving the same counts.
void draw_score_counts_raw(UniformRandom& random, std::int32_t n, const RawSamplingTable& table,
                           std::span<std::int32_t> counts);

}  // namespace eqsim
