// The simulation engine, callable from memory: give it two population score distributions, the
// old form's raw-to-scale conversion, the reporting scale, one or more equating methods, the
// number of replications, a seed and the two sample sizes; it draws that many pairs of random
// samples, equates every pair by every method, converts the equated scores to unrounded and
// rounded scale scores, and returns per new-form raw score the mean and standard deviation over
// replications of the three quantities, with the histogram of the rounded scale scores.
//
// Nothing here reads or writes a file, prints, or keeps state between calls: every call owns its
// generator and its storage, so simulations may run at once on several threads. The `eqsim`
// program reads its control and data files, calls run_simulation() and writes the report; the
// study runner calls it for each of its conditions.
//
//     const MethodChoice methods[] = {{Method::postsmoothing, 0.3}};
//     SimulationOptions options;
//     options.new_frequencies = new_form;  // raw scores 0..Kx-1
//     options.old_frequencies = old_form;  // raw scores 0..Ky-1
//     options.conversion = scale_scores;   // Ky scale scores of the old form
//     options.methods = methods;
//     options.replications = 500;
//     options.seed = 20261207;
//     SimulationResult result;
//     Status status = run_simulation(options, result);
//     // result.methods[0].rounded.sd[x]: standard error of the rounded scale score of x
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/equating/scale_conversion.h"
#include "engine/numeric/status.h"
#include "engine/simulation/methods.h"

namespace eqsim {

// Fewest score points a form may have.
inline constexpr int kMinimumScorePoints = 4;

// A method and its smoothing parameter (the spline's smoothing value, the log-linear degree, or
// nothing for the other three methods).
struct MethodChoice {
    Method method = Method::postsmoothing;
    double parameter = 0.25;
};

// How the replications draw their samples. Every choice draws the very same samples; the
// cumulative search with a lookup of a given scale is kept for comparison and tests.
struct SamplingChoice {
    bool raw_thresholds = true;
    double lookup_scale = 10.0;
};

struct SimulationOptions {
    // Population frequencies of the new form's raw scores 0..Kx-1 and of the old form's raw scores
    // 0..Ky-1 (counts or proportions: only their shares matter). Each form needs at least
    // kMinimumScorePoints points and a positive, finite total.
    std::span<const double> new_frequencies;
    std::span<const double> old_frequencies;

    // The old form's scale score for each of its raw scores 0..Ky-1.
    std::span<const double> conversion;

    // The reporting scale: rounded scale scores are multiples of its increment within its minimum
    // and maximum, and the histogram has one column per scale point.
    ScaleSpec scale;

    // The methods that equate every pair of samples, each with its parameter. At least one.
    std::span<const MethodChoice> methods;

    // Number of replications, at least 1.
    std::int32_t replications = 10;

    // Seed of the generator, 1..2147483646 (a program settles 0 and negative seeds first).
    std::int32_t seed = 1;

    // Sample sizes of the new and the old form; 0 takes the form's population total rounded to
    // the nearest whole examinee.
    std::int32_t new_size = 0;
    std::int32_t old_size = 0;

    // Called after every completed replication with the number completed so far. Returning false
    // stops the simulation, which then reports Status::Code::cancelled. May be left empty.
    std::function<bool(std::int32_t completed)> progress;

    // How samples are drawn; every choice gives the same samples.
    SamplingChoice sampling;
};

// Mean and standard deviation (divisor R) over replications, per new-form raw score.
struct QuantityMoments {
    std::vector<double> mean;
    std::vector<double> sd;
};

// One method's results.
struct MethodResult {
    MethodChoice choice;
    QuantityMoments equated;    // the equated raw score
    QuantityMoments unrounded;  // the unrounded scale score
    QuantityMoments rounded;    // the rounded scale score
    // Kx rows of scale_points counts: how many replications put raw score x's rounded scale
    // score on each scale point, from the minimum up.
    std::vector<std::int32_t> histogram;
};

struct SimulationResult {
    int new_points = 0;  // Kx
    int old_points = 0;  // Ky
    int scale_points = 0;
    double new_total = 0.0;  // population totals, before rounding
    double old_total = 0.0;
    std::int32_t new_size = 0;  // the sample sizes drawn
    std::int32_t old_size = 0;
    std::int32_t seed = 0;
    // The new form's population relative frequencies, the weights of averages over raw scores.
    std::vector<double> weights;
    // In the order of SimulationOptions::methods.
    std::vector<MethodResult> methods;
    // After a failure of a method: its position in SimulationOptions::methods and the replication
    // it failed on (0 when the statistics overflowed at the end); otherwise -1 and 0.
    int failed_method = -1;
    std::int32_t failed_replication = 0;
};

// Checks the populations and sample sizes of options as run_simulation() does, without running.
// The diagnostic names no file; a caller that read the populations from one puts its name first.
Status check_populations(const SimulationOptions& options);

// Checks the settings of options (scale, methods and their parameters, replications, seed) as
// run_simulation() does.
Status check_settings(const SimulationOptions& options);

// Runs the whole simulation. On failure result is unspecified and the status says why: a
// population or setting that cannot run (invalid_input), a method that failed on a replication
// (method_failed, naming the replication), statistics that overflowed (method_failed), no
// storage (no_storage, or vector_storage for the spline's vectors), or a stop asked for by the
// progress callback (cancelled).
Status run_simulation(const SimulationOptions& options, SimulationResult& result);

// Replaces sums by means and sums of squares by standard deviations (divisor: completed).
void moments_from_sums(int k, std::int32_t completed, std::span<double> sums,
                       std::span<double> squares);

}  // namespace eqsim
