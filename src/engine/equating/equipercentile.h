// Unsmoothed equipercentile equating: each new-form score goes to the old-form score with the
// same percentile rank. Owns the shared operation used by the unsmoothed method, by log-linear
// pre-smoothing and by the anchor-test equipercentile methods, including the small uniform mass
// mixed into distributions with a flat step, and the percentile rank of a real score.
#pragma once

#include <span>

namespace eqsim {

// Share of probability spread over every score of a form whose cumulative distribution has a
// flat step, so that each score keeps a positive probability and the inversion is defined.
inline constexpr double kUniformMass = 1.0e-6;

// Equates copies of two sample distributions (relative frequencies of raw scores 0..Kx-1 and
// 0..Ky-1), writing Kx equated scores; the inputs are left untouched. False when a distribution is
// empty, equated is too short or working storage cannot be had (equated is then untouched).
bool equate_unsmoothed(std::span<const double> new_dist, std::span<const double> old_dist,
                       std::span<double> equated);

// The shared operation. Both frequency arrays are overwritten by their cumulative distributions.
void equipercentile_equate(double score_min, double score_increment, std::span<double> new_freq,
                           std::span<double> old_freq, double uniform_mass,
                           std::span<double> equated);

// Normalises the frequencies to sum 1 and turns them into a cumulative distribution, mixing in the
// uniform mass when the form has a flat step. A negative mass is always used, as its absolute
// value; a zero mass never.
void prepare_cumulative(std::span<double> freq, double uniform_mass);

// Mixes the entries with a uniform distribution of weight mass and accumulates them in place; the
// last entry is set to exactly 1.
void cumulate_with_uniform(double mass, std::span<double> dist);

// Maps each new-form score to the old-form score with the same percentile rank, given both
// cumulative distributions, writing new_cum.size() scores.
void invert_percentile_ranks(double score_min, double score_increment,
                             std::span<const double> new_cum, std::span<const double> old_cum,
                             std::span<double> equated);

// The old-form score whose percentile rank is rank (a proportion): within the interval of the
// smallest score whose cumulative value exceeds the rank (the last score when none does), at the
// rank's place in that score's probability. old_cum is not empty.
double score_of_rank(double score_min, double score_increment, std::span<const double> old_cum,
                     double rank);

// The percentile rank (a proportion) of a real score on a form with raw scores 0..k-1, each
// score's probability spread uniformly over its unit interval [s - 0.5, s + 0.5): 0 at and below
// -0.5, 1 at and above k - 0.5, and at a whole score s the rank invert_percentile_ranks uses.
// A NaN score gives NaN. cum is not empty.
double percentile_rank_of(std::span<const double> cum, double score);

}  // namespace eqsim
