// Cubic-spline post-smoothing: unsmoothed equivalents in both directions with their standard
// errors, a smoothing spline through each, straight-line extensions to the ends of both scales,
// and the average of the new-to-old function with the inverse of the old-to-new one.
#pragma once

#include <span>

#include "engine/equating/sample_pair.h"
#include "engine/numeric/dvector.h"
#include "engine/numeric/status.h"

namespace eqsim {

// Percentile ranks at or below this, or at or above one less it, leave a score out of the
// spline's fit by default.
inline constexpr double kPostsmoothTailCut = 0.005;

// Equates the pair of samples with one smoothing value, writing samples' Kx equated scores to the
// front of equated; the frequencies are only read. Fails with method_failed, writing nothing,
// when a form has fewer than two score points, equated is too short, or the tail cut leaves a
// fitting range empty; with vector_storage when the vectors cannot be had. Non-finite input is
// not a failure: it gives non-finite scores for the caller to test.
Status postsmooth_equate(const SamplePair& samples, double smoothing, double tail_cut,
                         std::span<double> equated);

// One form's tables once its counts are cumulated, over raw scores 0..k-1.
struct FormTables {
    int k = 0;
    DVector proportions;
    DVector cumulative;
    DVector ranks;  // percentile ranks as proportions in (0, 1)
    double total = 0.0;
};

// The fitting range of one direction: lowest..k-1-excluded_top.
struct FittingRange {
    int lowest;
    int excluded_top;
};

// One direction's unsmoothed equivalents e and their standard errors se for every source score
// 0..source_k-1, on the target's raw scale, with the range the spline is fitted over.
struct Equivalents {
    int source_k = 0;
    int target_k = 0;
    DVector e;
    DVector se;
    FittingRange range{};
};

// The work of postsmooth_equate once each form's sample counts are in a vector over 0..k-1 (the
// counts are raised by 1e-9 in place); the caller has checked every size.
Status postsmooth_counts(DVector& new_counts, int kx, DVector& old_counts, int ky, double smoothing,
                         double tail_cut, std::span<double> equated) noexcept;

// Raises every count over 0..k-1 by 1e-9, so that no score has zero proportion, and fills the
// form's proportions, cumulative proportions, percentile ranks and the total of the raised
// counts into tables, whose vectors the caller provides.
void cumulate_counts(DVector& counts, int k, FormTables& tables) noexcept;

// Fills out.e, out.se (vectors the caller provides) and out.range for the direction from source
// to target, target_values holding the target's raw scores.
void equate_with_errors(const FormTables& source, const FormTables& target,
                        const DVector& target_values, double tail_cut, Equivalents& out) noexcept;

// The standard error of the equivalent of a source score with percentile rank P whose target
// score has proportion g and cumulative proportion G. A variance that rounding drives below 0
// gives 0.
double equating_standard_error(double P, double g, double G, double source_total,
                               double target_total) noexcept;

// Fits both splines with one smoothing value, extends each by straight lines through the corner
// points (-0.5, -0.5) and (k-0.5, k'-0.5), and writes into equated[0..kx-1] the average of the
// new-to-old function and the inverse of the old-to-new one. new_values and old_values hold the
// raw scores of the two forms. False, writing nothing, when the vectors cannot be had.
bool smooth_and_average(const Equivalents& to_old, const Equivalents& to_new,
                        const DVector& new_values, const DVector& old_values, double smoothing,
                        std::span<double> equated) noexcept;

}  // namespace eqsim
