// Cubic-spline post-smoothing: unsmoothed equivalents in both directions with their standard
// errors, a smoothing spline through each, straight-line extensions to the ends of both scales,
// and the average of the new-to-old function with the inverse of the old-to-new one.
#pragma once

#include <cstdint>
#include <span>

#include "numeric/dvector.h"

namespace eqsim {

// Returns 0 on success and 1 on failure (the reverse of the other equating methods).
// outputs[i] receives the equated scores for smoothing_values[i], i < count, over
// new_low..new_high. The frequency arrays are only read. Fails, writing nothing, when a range
// does not fit its arrays, a form has fewer than two score points, count is below 1 or beyond
// either list, or the tail cut leaves a fitting range empty. Non-finite input is not a failure:
// it gives non-finite scores for the caller to test.
std::int16_t postsmooth_equate(int new_low, int new_high, int old_low, int old_high,
                               double new_size, double old_size, std::span<const double> new_rel,
                               std::span<const double> old_rel,
                               std::span<const std::span<double>> outputs,
                               std::span<const double> smoothing_values, int count,
                               double tail_cut);

// The work of postsmooth_equate once each form's sample counts are in a table over 0..k-1
// (the counts are raised by 1e-9 in place). outputs[i] is written from index output_low for kx
// scores; the caller has checked every size. Returns 1, having written nothing, when a fitting
// range is empty (possible only for tail cuts of 0.25 and above), else 0.
std::int16_t postsmooth_counts(int kx, int ky, DVector& new_counts, DVector& old_counts,
                               std::span<const std::span<double>> outputs, int output_low,
                               std::span<const double> smoothing_values, int count,
                               double tail_cut) noexcept;

// Raises every count over 0..k-1 by 1e-9, so that no score has zero proportion, and fills the
// form's proportions, cumulative proportions and percentile ranks (as proportions in (0, 1)),
// with the total of the raised counts.
void cumulate_counts(DVector& counts, DVector& proportions, DVector& cumulative, DVector& ranks,
                     double& total, int k) noexcept;

// One direction's unsmoothed equivalents e and standard errors se, for every source score
// 0..source_k-1, on the target's raw scale. lowest is the first source score inside the fitting
// range, excluded_top the number of top scores beyond it (the range is
// lowest..source_k-1-excluded_top).
void equate_with_errors(const DVector& source_ranks, const DVector& target_values,
                        const DVector& target_proportions, const DVector& target_cumulative,
                        double source_total, double target_total, int source_k, int target_k,
                        DVector& e, DVector& se, double tail_cut, int& lowest,
                        int& excluded_top) noexcept;

// The standard error of the equivalent of a source score with percentile rank P whose target
// score has proportion g and cumulative proportion G. A variance that rounding drives below 0
// gives 0.
void equating_standard_error(double P, double g, double G, double source_total, double target_total,
                             double& se) noexcept;

// The fitting range of one direction: lowest..k-1-excluded_top.
struct FittingRange {
    int lowest;
    int excluded_top;
};

// Fits both splines with one smoothing value, extends each by straight lines through the corner
// points (-0.5, -0.5) and (k-0.5, k'-0.5), and writes into equated[0..kx-1] the average of the
// new-to-old function and the inverse of the old-to-new one.
void smooth_and_average(int kx, int ky, const DVector& new_values, const DVector& old_values,
                        const DVector& e_new, const DVector& se_new, FittingRange new_range,
                        const DVector& e_old, const DVector& se_old, FittingRange old_range,
                        double smoothing, std::span<double> equated) noexcept;

}  // namespace eqsim
