// The engine's public face: everything a program or a binding needs to simulate the random
// sampling error of equating, in one header.
//
//   Population      two forms' population score distributions and the old form's raw-to-scale
//                   conversion, checked once when built
//   Method          the equating methods, their parameter rules and their names
//   run_simulation  draws R pairs of samples, equates every pair by every method, and returns per
//                   new-form raw score the mean and standard deviation over replications of the
//                   equated raw score, the unrounded and the rounded scale score, with a histogram
//                   of the rounded scale scores
//   equate_population  one method applied to the populations themselves
//
// The engine reads and writes no file, prints nothing, reads no clock or environment and never
// ends the process: every failure comes back as a Status whose diagnostic says what is wrong. A
// call owns its generator and its storage, so simulations may run at once on several threads.
//
//     Population population;
//     Status s = Population::random_groups(new_form, old_form, scale_scores, population);
//     const MethodChoice methods[] = {{Method::postsmoothing, 0.3}};
//     SimulationOptions options;
//     options.population = &population;
//     options.methods = methods;
//     options.replications = 500;
//     options.seed = 20261207;
//     SimulationResult result;
//     s = run_simulation(options, result);
//     // result.methods[0].moments[Quantity::rounded].sd[x]: the standard error of the rounded
//     // scale score of new-form raw score x
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/equating/anchor_equating.h"
#include "engine/equating/scale_conversion.h"
#include "engine/numeric/status.h"
#include "engine/sampling/uniform_random.h"
#include "engine/simulation/monte_carlo_errors.h"

namespace eqsim {

// ---- Populations ----

// Fewest score points a form may have.
inline constexpr int kMinimumScorePoints = 4;

// How the examinees of the two forms are gathered. Random groups: each form is taken by its own
// randomly equivalent group, and a population is a distribution of one form's raw scores. Anchor
// test (common-item nonequivalent groups): the new form is taken by group P and the old form by
// group Q, both take the same anchor items, and a population is a table of total and anchor
// scores.
enum class Design { random_groups, anchor_test };

// The populations a simulation samples from, built and checked once: each form's frequencies
// (counts or proportions: only their shares matter) and the old form's scale score for each of its
// raw scores. Raw scores run 0..K-1 and are the positions in the arrays.
class Population {
  public:
    // Builds a random-groups population. Fails with invalid_input when a form has fewer than
    // kMinimumScorePoints points, a frequency is negative or not finite, a total gives no sample
    // size from 1 to 2147483647, or the conversion does not hold one finite scale score per
    // old-form raw score.
    static Status random_groups(std::span<const double> new_frequencies,
                                std::span<const double> old_frequencies,
                                std::span<const double> conversion, Population& population);

    // Builds an anchor-test population from each group's counts (or shares) of examinees by total
    // and anchor score: new_cells holds P's over new-form totals 0..new_points-1 and anchor scores
    // 0..anchor_points-1, row-major by total score (new_cells[x * anchor_points + v]); old_cells
    // Q's over the old form's totals. With an internal anchor (its items count toward the total)
    // an anchor score above its total is refused. Fails as random_groups does, and when a table
    // does not hold its cells or has fewer than two anchor score points.
    static Status anchor_test(std::span<const double> new_cells, int new_points,
                              std::span<const double> old_cells, int old_points, int anchor_points,
                              AnchorKind anchor, std::span<const double> conversion,
                              Population& population);

    Design design() const { return design_; }
    // Anchor test only: the anchor's kind and score points, and each group's table as shares.
    AnchorKind anchor() const { return anchor_; }
    int anchor_points() const { return anchor_points_; }
    std::span<const double> new_joint() const { return new_joint_; }
    std::span<const double> old_joint() const { return old_joint_; }
    int new_points() const { return static_cast<int>(new_frequencies_.size()); }  // Kx
    int old_points() const { return static_cast<int>(old_frequencies_.size()); }  // Ky
    std::span<const double> new_frequencies() const { return new_frequencies_; }
    std::span<const double> old_frequencies() const { return old_frequencies_; }
    std::span<const double> conversion() const { return conversion_; }
    // The totals of the frequencies, before rounding.
    double new_total() const { return new_total_; }
    double old_total() const { return old_total_; }
    // In the anchor-test design the frequencies are each group's total scores' (summed over the
    // anchor). Relative frequencies: the new form's are the weights of averages over its raw
    // scores.
    std::span<const double> new_relative() const { return new_relative_; }
    std::span<const double> old_relative() const { return old_relative_; }
    // The sample sizes a simulation draws when none is asked for: the totals rounded to the nearest
    // whole examinee.
    std::int32_t default_new_size() const { return default_new_size_; }
    std::int32_t default_old_size() const { return default_old_size_; }

  private:
    Design design_ = Design::random_groups;
    AnchorKind anchor_ = AnchorKind::internal;
    int anchor_points_ = 0;
    std::vector<double> new_joint_;
    std::vector<double> old_joint_;
    std::vector<double> new_frequencies_;
    std::vector<double> old_frequencies_;
    std::vector<double> conversion_;
    std::vector<double> new_relative_;
    std::vector<double> old_relative_;
    double new_total_ = 0.0;
    double old_total_ = 0.0;
    std::int32_t default_new_size_ = 0;
    std::int32_t default_old_size_ = 0;
};

// ---- Methods ----

// The equating methods. The codes are those of the report's history (1 post-smoothing ... 5 mean).
enum class Method : std::int16_t {
    postsmoothing = 1,  // cubic-spline post-smoothing
    presmoothing = 2,   // log-linear pre-smoothing, then equipercentile
    unsmoothed = 3,     // unsmoothed equipercentile
    linear = 4,
    mean = 5,
    identity = 6,    // the line through the two scales' ends
    circle_arc = 7,  // Livingston and Kim's simplified circle-arc equating
    synthetic = 8,   // a weighted average of linear and identity equating
    kernel = 9,      // kernel equating with a Gaussian kernel, after log-linear pre-smoothing
    // The anchor-test design's methods (Kolen and Brennan, 2014, chapters 4 and 5).
    tucker = 10,
    levine = 11,  // Levine observed-score
    chained_linear = 12,
    frequency_estimation = 13,
    braun_holland = 14,
    chained_equipercentile = 15,
};

// What a method's parameter is and which values it takes.
enum class ParameterRule {
    none,             // the method takes no parameter; any value is ignored
    smoothing_value,  // the spline's smoothing value per interval: 1.0 or less
    degree,           // the log-linear degree: 1.0 or more, truncated toward zero
    weight,           // a weight from 0.0 to 1.0
    // The synthetic population's weight w1 on group P, from 0.0 to 1.0, or kWeightOfSizes.
    group_weight,
};

// The group weight that takes w1 = n_P / (n_P + n_Q) of the sample sizes.
inline constexpr double kWeightOfSizes = -1.0;

// A method and its parameter.
struct MethodChoice {
    Method method = Method::postsmoothing;
    double parameter = 0.25;
};

// Every method, in code order.
std::span<const Method> all_methods();

// The method's name, as its diagnostics and the eqsim report give it ("Post-Smoothing",
// "Unsmoothed equipercentile", ...).
std::string_view method_name(Method method);

ParameterRule parameter_rule(Method method);
Design design_of(Method method);

// Whether choice's parameter suits its method: finite, and within the method's rule.
Status check_parameter(const MethodChoice& choice);

// ---- Simulation ----

// The three quantities reported for every new-form raw score.
enum class Quantity {
    raw,      // the equated raw score, on the old form's raw-score scale
    scale,    // the unrounded scale score
    rounded,  // the scale score rounded to the scale's increment
};
inline constexpr std::array<Quantity, 3> kQuantities = {Quantity::raw, Quantity::scale,
                                                        Quantity::rounded};

// One value of T per quantity, indexed by Quantity.
template <typename T>
struct PerQuantity {
    std::array<T, 3> values{};
    T& operator[](Quantity q) { return values[static_cast<std::size_t>(q)]; }
    const T& operator[](Quantity q) const { return values[static_cast<std::size_t>(q)]; }
};

// How the replications draw their samples. Every choice draws the very same samples; the
// cumulative search with a lookup of a given scale is kept for comparison and tests.
struct SamplingChoice {
    bool raw_thresholds = true;
    double lookup_scale = 10.0;
};

struct SimulationOptions {
    // The populations to sample from. Must outlive the call.
    const Population* population = nullptr;

    // The reporting scale: rounded scale scores are multiples of its increment within its minimum
    // and maximum, and the histogram has one column per scale point.
    ScaleSpec scale;

    // The methods that equate every pair of samples, each with its parameter. At least one.
    std::span<const MethodChoice> methods;

    // Number of replications, at least 1.
    std::int32_t replications = 10;

    // Seed of the generator, 1..kLargestSeed (2147483646).
    std::int32_t seed = 1;

    // Sample sizes of the new and the old form; 0 takes the population's default size.
    std::int32_t new_size = 0;
    std::int32_t old_size = 0;

    // Called after every completed replication with the number completed so far. Returning false
    // stops the simulation, which then reports Status::Code::cancelled. May be left empty.
    std::function<bool(std::int32_t completed)> progress;

    // How samples are drawn; every choice gives the same samples.
    SamplingChoice sampling;

    // For studies: what each method's results are measured against, and the cut scores of pass
    // and fail decisions. criteria holds the criterion's equated raw, unrounded and rounded scale
    // scores (Kx values each): one for every method, in the order of methods, or one for all.
    // With criteria, each method's result carries the Monte Carlo standard errors of its indices
    // and, with cuts, its decisions. cuts holds scale points (0 at the scale's minimum; see
    // scale_point_index()), strictly increasing, at most kMaxCuts; it needs criteria.
    std::span<const PerQuantity<std::vector<double>>> criteria;
    std::span<const std::int32_t> cuts;
};

// Mean and standard deviation (divisor R) over replications, per new-form raw score.
struct QuantityMoments {
    std::vector<double> mean;
    std::vector<double> sd;
};

// One method's results.
struct MethodResult {
    MethodChoice choice;
    PerQuantity<QuantityMoments> moments;
    // Kx rows of scale_points counts: how many replications put raw score x's rounded scale
    // score on each scale point, from the minimum up.
    std::vector<std::int32_t> histogram;
    // With SimulationOptions::criteria: the Monte Carlo standard errors and the decisions.
    std::optional<MonteCarloErrors> errors;
};

struct SimulationResult {
    int new_points = 0;  // Kx
    int old_points = 0;  // Ky
    int scale_points = 0;
    std::int32_t new_size = 0;  // the sample sizes drawn
    std::int32_t old_size = 0;
    std::int32_t seed = 0;
    // In the order of SimulationOptions::methods; complete only when the simulation succeeded.
    std::vector<MethodResult> methods;
    // Which method failed, as its position in SimulationOptions::methods, and the replication it
    // failed on (from 1; 0 when the statistics overflowed after the last replication). Set when
    // run_simulation fails with method_failed or vector_storage; -1 and 0 on success and on every
    // other failure.
    int failed_method = -1;
    std::int32_t failed_replication = 0;
};

// Checks the settings of options (scale, methods and their parameters, replications, seed) as
// run_simulation() does.
Status check_settings(const SimulationOptions& options);

// Checks that options names a population and that the sample sizes it asks for can be drawn.
Status check_sizes(const SimulationOptions& options);

// Runs the whole simulation. On failure the status says why: a setting or size that cannot run
// (invalid_input), a method that failed on a replication (method_failed, naming the replication),
// statistics that overflowed (method_failed), no storage (no_storage, or vector_storage for the
// spline's vectors), or a stop asked for by the progress callback (cancelled).
Status run_simulation(const SimulationOptions& options, SimulationResult& result);

// One method applied to the populations themselves, as if they were samples of the given sizes
// (the smoothing methods work with counts): new_points() equated raw scores. The sizes default as
// in SimulationOptions. The diagnostic of a failure names the method.
Status equate_population(const Population& population, const MethodChoice& choice,
                         std::int32_t new_size, std::int32_t old_size,
                         std::vector<double>& equated);

// Replaces sums by means and sums of squares by standard deviations (divisor: completed).
void moments_from_sums(std::int32_t completed, std::span<double> sums, std::span<double> squares);

}  // namespace eqsim
