// How sure a simulation's results are, and what equating error does to pass/fail decisions: the
// Monte Carlo standard errors (MCSE) of one method's per-score and summary indices, and the
// misclassification at cut scores, computed from running sums over the replications.
//
// This module owns the running sums of one method's three quantities (equated raw score,
// unrounded and rounded scale score) over its replications and turns them into MCSEs when the
// replications are done. It stores nothing per replication: its memory depends on the number of
// scores, jackknife batches and cuts, never on R. Formulas and sources (Morris, White and Crowther
// 2019, Table 6; Kenney and Keeping 1951, p. 164; Kott 2001) are in docs/studies.md, sections
// "Monte Carlo standard errors" and "Decisions at cut scores".
//
// Running sums are of deviations from the first replication's value of each score (a shift), not
// of the values themselves: a score that never changes (identity equating has no sampling error)
// sums exact zeros and so gets exactly 0 for every spread and MCSE, and the shift, a draw from
// the same distribution, keeps the cancellation in the third and fourth moments small. Unlike a
// Welford or Pebay update, a shifted sum needs no division per value, no value's update waits for
// the previous replication's mean, and batches combine by plain addition.
//
//     MonteCarloAccumulator errors;
//     MonteCarloSetup setup;  // weights, criteria, R, cuts ...
//     if (!errors.reset(setup).is_ok()) ...
//     for each replication: errors.add_replication(equated, unrounded, rounded, rounded_slots);
//     MonteCarloErrors result;
//     if (!errors.finish(result)) ...  // sums overflowed, or not R replications
//     // result.equated->rmse[x]: MCSE of raw score x's RMSE; empty optional when R = 1
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/numeric/status.h"

namespace eqsim {

// Most cut scores a decision study may have.
inline constexpr int kMaxCuts = 20;

// Most batches of replications the jackknife leaves out one at a time. With B batches the
// jackknife's variance has about B - 1 degrees of freedom, so the MCSE it gives is itself within
// about 1 / sqrt(2 (B - 1)), 10% at 50: enough for an MCSE quoted to one or two digits, while
// memory (two sums per score, quantity and batch) and finishing time stay small. With fewer
// replications than this, every replication is a batch (the delete-one jackknife).
inline constexpr int kJackknifeBatches = 50;

// What the replications are measured against: R, the weights and criteria of the K new-form raw
// scores, and the cuts. Spans are read during reset() only.
struct MonteCarloSetup {
    std::int32_t replications = 0;  // R, at least 1

    // w(x): the new form's population relative frequencies, K values (K is their count).
    std::span<const double> weights;

    // c(x) for each quantity: the criterion's equated raw score, unrounded and rounded scale
    // score, K values each.
    std::span<const double> criterion_equated;
    std::span<const double> criterion_unrounded;
    std::span<const double> criterion_rounded;

    // Cuts: indices of rounded scale scores on the scale (0 at its minimum; see
    // scale_point_index()), strictly increasing, at most kMaxCuts; may be empty. A score passes
    // at a cut when its rounded scale score's index is at least the cut.
    std::span<const std::int32_t> cuts;
    // Needed only with cuts: the scale's number of points and the index of the criterion's
    // rounded scale score of every raw score (K values, 0 to scale_points - 1).
    int scale_points = 0;
    std::span<const std::int32_t> criterion_slots;
};

// MCSEs of one quantity's indices.
struct QuantityErrors {
    // Per new-form raw score (K values each). `mean` is also the MCSE of the bias, since the
    // criterion is fixed.
    std::vector<double> mean;
    std::vector<double> se;
    std::vector<double> rmse;

    // Of the summaries over raw scores: weighted by w(x) and unweighted (w = 1/K).
    double se_w = 0.0;
    double bias_w = 0.0;
    double rmse_w = 0.0;
    double se_u = 0.0;
    double bias_u = 0.0;
    double rmse_u = 0.0;
};

// The decision results at one cut.
struct CutDecision {
    std::int32_t cut = 0;         // the cut's scale-point index
    double criterion_pass = 0.0;  // sum of w(x) over the scores the criterion passes
    double misclassified = 0.0;   // mean over replications of the weight of misclassified scores
    std::optional<double> mcse_misclassified;  // empty when R = 1
};

struct MonteCarloErrors {
    // Empty when R = 1: one replication has no spread to estimate an MCSE from.
    std::optional<QuantityErrors> equated;
    std::optional<QuantityErrors> unrounded;
    std::optional<QuantityErrors> rounded;
    // One per cut, in the order of the cuts.
    std::vector<CutDecision> decisions;
};

// One method's running sums. Reusable: reset() keeps storage for the next condition. Not shared
// between threads; each simulation holds its own.
class MonteCarloAccumulator {
  public:
    // Starts over for the given setup. invalid_input when its arrays' lengths disagree, R is
    // below 1, or the cuts or criterion slots are not as described; no_storage when storage
    // cannot be had.
    Status reset(const MonteCarloSetup& setup);

    // Adds one replication: the K equated raw scores, unrounded and rounded scale scores, and
    // the scale-point indices of the rounded ones (read only with cuts; indices outside the scale
    // count at its nearest end). Each span holds at least K values, of which the first K are used.
    // No allocation; a few operations per value.
    void add_replication(std::span<const double> equated, std::span<const double> unrounded,
                         std::span<const double> rounded,
                         std::span<const std::int32_t> rounded_slots);

    std::int32_t completed() const { return completed_; }

    // The MCSEs and decisions after all R replications. False (result not to be used) when fewer
    // or more than R replications were added or the sums overflowed (deviations beyond about
    // 1e75, whose fourth powers are not finite).
    bool finish(MonteCarloErrors& result) const;

  private:
    // Sums of one quantity.
    struct Quantity {
        std::vector<double> criterion;
        std::vector<double> shift;  // the first replication's values
        // Four blocks of K sums: of d = value - shift and of d^2 over the current batch, of d^3
        // and d^4 over all replications.
        std::vector<double> running;
        // Per finished batch b, K sums each at b * K: of d and of d^2.
        std::vector<double> batch_sums;
        std::vector<double> batch_squares;
        // Per replication Q = sum_x w (value - criterion)^2 and U = sum_x (value - criterion)^2:
        // their first values, and the sums of their deviations from them and of those squared.
        double first_weighted = 0.0;
        double first_unweighted = 0.0;
        double weighted_sum = 0.0;
        double weighted_squares = 0.0;
        double unweighted_sum = 0.0;
        double unweighted_squares = 0.0;
    };

    void reset_quantity(Quantity& q, std::span<const double> criterion);
    void add_quantity(Quantity& q, std::span<const double> values);
    void close_batch(Quantity& q);
    bool finish_quantity(const Quantity& q, std::optional<QuantityErrors>& out) const;
    void add_decisions(std::span<const std::int32_t> slots);
    void finish_decisions(std::vector<CutDecision>& out) const;

    int k_ = 0;
    std::int32_t replications_ = 0;
    std::int32_t completed_ = 0;
    std::vector<double> weights_;
    Quantity quantities_[3];

    // Batches: how many, the current one, and the count of completed replications at which it
    // closes. Batch b holds replications floor(b R / B) to floor((b + 1) R / B) - 1 (from 0).
    int batches_ = 0;
    int batch_ = 0;
    std::int32_t next_batch_start_ = 0;

    // Decisions. cuts_up_to_[s]: how many cuts are at or below scale point s, so the cuts a
    // score crosses between scale points lo < hi are cuts_up_to_[lo] to cuts_up_to_[hi] - 1.
    int cut_count_ = 0;
    int scale_points_ = 0;
    std::array<std::int32_t, kMaxCuts> cuts_{};
    std::vector<std::uint8_t> cuts_up_to_;
    std::vector<std::int32_t> criterion_slots_;
    // The current replication's misclassified weight per cut and the cuts it touched; per cut
    // the first replication's weight (the shift), sums of deviations from it and of their
    // squares over the replications that touched the cut, and their count.
    std::array<double, kMaxCuts> current_{};
    std::array<bool, kMaxCuts> is_touched_{};
    std::array<int, kMaxCuts> touched_{};
    int touched_count_ = 0;
    std::array<double, kMaxCuts> cut_shift_{};
    std::array<double, kMaxCuts> cut_sum_{};
    std::array<double, kMaxCuts> cut_squares_{};
    std::array<std::int32_t, kMaxCuts> cut_hits_{};
};

}  // namespace eqsim
