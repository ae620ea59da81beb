// What a study computes, without any file: its conditions (a data set at a pair of sample
// sizes) with their seeds and criteria, the simulation of every condition on a pool of threads,
// and the rows of the study's tables (per condition, method, raw score and quantity the criterion,
// mean, standard error, bias and RMSE; per method and quantity the weighted and unweighted
// summaries; the histogram of rounded scale scores). The eqsim-study program reads its study
// file and data files into a StudyDesign and writes these rows out; a binding does the same from
// memory, and both get the very same numbers.
//
// A condition's replications draw each pair of samples once and every method of the study equates
// those same samples. Each condition has a seed of its own, derived from the study's seed and the
// condition's position (condition_seed()), so a condition gives the same numbers however the
// study is split among threads or shards.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"

namespace eqsim {

// What a study measures the methods against.
enum class CriterionKind {
    unsmoothed,  // the populations' unsmoothed equipercentile equating
    same,        // each method applied to the populations themselves
    column,      // given equated raw scores (StudyDataSet::criterion_column)
};

struct StudyDataSet {
    std::string name;  // how the tables and diagnostics name it (unique in a study)
    Population population;
    ScaleSpec scale;
    // The criterion's equated raw score of each new-form raw score, for CriterionKind::column.
    std::vector<double> criterion_column;
};

struct StudyMethod {
    MethodChoice choice;
    // Whether the tables give the parameter (the methods that take one).
    bool shows_parameter = false;
    // How diagnostics name the method ("Presmoothing"), and the method with its parameter
    // ("Presmoothing 6").
    std::string word;
    std::string label;
};

// Everything a study is made of, its data read and its seed settled.
struct StudyDesign {
    std::vector<StudyDataSet> data;  // at least one
    // The sample sizes (new, old) every data set is run at; empty: each data set at its
    // populations' default sizes.
    std::vector<std::pair<std::int32_t, std::int32_t>> sizes;
    std::vector<StudyMethod> methods;  // at least one
    std::int32_t replications = 1000;
    std::int32_t seed = 1;  // 1..kLargestSeed
    CriterionKind criterion = CriterionKind::unsmoothed;
    // Cut scores of pass and fail decisions: rounded scale scores, strictly increasing, at most
    // kMaxCuts, each a point of every data set's scale. Empty: no decisions.
    std::vector<double> cuts;
};

// A data set at one pair of sample sizes, the unit the study's work is split into.
struct Condition {
    int index = 0;     // position in the study, from 0: data sets in order, then sizes
    int data_set = 0;  // index into StudyDesign::data
    std::int32_t new_size = 0;
    std::int32_t old_size = 0;
    std::int32_t seed = 0;
    // The criterion's equated raw, unrounded and rounded scale scores: one per method of the study
    // for CriterionKind::same (empty for methods that do not run on the condition), otherwise one
    // shared by every method. In the anchor-test design criterion None is the populations'
    // chained equipercentile equating.
    std::vector<PerQuantity<std::vector<double>>> criterion;
    // The cut scores as points of the data set's scale.
    std::vector<std::int32_t> cut_points;
    // The methods that run on the condition, as positions in StudyDesign::methods, ascending: those
    // of its data set's design.
    std::vector<std::size_t> methods;
};

// Everything a study needs before its first replication.
struct StudyPlan {
    StudyDesign design;
    std::vector<Condition> conditions;
};

// The seed of the condition at index (from 0): the study's seed for the first, then each the one
// before times 48271 modulo 2^31 - 1. Every such seed lies in 1..2^31 - 2.
std::int32_t condition_seed(std::int32_t study_seed, int index);

// The number of conditions of a study: data sets times size pairs (one pair when none is given).
int condition_count(std::size_t data_sets, std::size_t size_pairs);

// Where planning failed: the data set at fault, and whether it was its criterion.
struct PlanFailure {
    int data_set = -1;
    bool criterion = false;
};

// Checks every condition's settings and sizes and computes every criterion, so that nothing the
// design holds can fail once the replications start. The diagnostic of a failure says what is
// wrong ("DATA: ..." for sizes, "condition 2 (DATA, n = 500): ..." for a criterion) and where
// tells which data set.
Status plan_study(StudyDesign design, StudyPlan& plan, PlanFailure& where);

// Whether every method of the design suits at least one of its data sets (random-groups methods
// random-groups data sets, anchor-test methods anchor-test ones). plan_study checks it too.
Status check_methods_suit(const StudyDesign& design);

// The same one data set at a time: plan.design holds everything but the data sets, and each call
// adds one with its conditions (seeds continue the chain). criterion_failed tells a failure of its
// criterion from one of its sizes or settings.
Status add_data_set(StudyPlan& plan, StudyDataSet data, bool& criterion_failed);

// ---- The rows of the tables ----

// What the rows of one condition, method and parameter share. The parameter is present exactly
// for the methods that show one.
struct RowKey {
    std::string data;  // the data set's name
    double n_new = 0.0;
    double n_old = 0.0;
    Method method = Method::unsmoothed;
    std::optional<double> parameter;

    bool operator==(const RowKey&) const = default;
};

// Same data set and sizes.
inline bool same_condition(const RowKey& a, const RowKey& b) {
    return a.data == b.data && a.n_new == b.n_new && a.n_old == b.n_old;
}

// Same method and parameter.
inline bool same_method(const RowKey& a, const RowKey& b) {
    return a.method == b.method && a.parameter == b.parameter;
}

struct ScoreRow {
    RowKey key;
    std::int64_t seed = 0;
    std::int64_t replications = 0;
    std::int32_t score = 0;  // the new form's raw score
    double weight = 0.0;     // the new form's population relative frequency at score
    Quantity quantity = Quantity::raw;
    double criterion = 0.0;
    double mean = 0.0;
    double se = 0.0;
    double bias = 0.0;
    double rmse = 0.0;
    // Monte Carlo standard errors of mean (the same as of bias), se and rmse; empty when the
    // condition ran fewer than two replications.
    std::optional<double> mcse_mean;
    std::optional<double> mcse_se;
    std::optional<double> mcse_rmse;
};

struct SummaryRow {
    RowKey key;
    std::int64_t seed = 0;
    std::int64_t replications = 0;
    Quantity quantity = Quantity::raw;
    double se_w = 0.0;
    double bias_w = 0.0;
    double rmse_w = 0.0;
    double se_u = 0.0;
    double bias_u = 0.0;
    double rmse_u = 0.0;
    // Monte Carlo standard errors of the six; empty with fewer than two replications.
    std::optional<double> mcse_se_w;
    std::optional<double> mcse_bias_w;
    std::optional<double> mcse_rmse_w;
    std::optional<double> mcse_se_u;
    std::optional<double> mcse_bias_u;
    std::optional<double> mcse_rmse_u;
};

// What the equating error of one method does to the decisions at one cut score.
struct DecisionRow {
    RowKey key;
    std::int64_t seed = 0;
    std::int64_t replications = 0;
    double cut = 0.0;             // the cut score, a rounded scale score
    double criterion_pass = 0.0;  // the new form's population share that passes by the criterion
    double misclassified = 0.0;   // mean over replications of the share whose decision changes
    std::optional<double> mcse_misclassified;  // empty with fewer than two replications
};

// How many replications put a raw score's rounded scale score on one scale point.
struct HistogramCell {
    std::uint32_t method = 0;  // position in StudyDesign::methods
    std::int32_t score = 0;    // the new form's raw score
    std::int32_t slot = 0;     // the scale point, from the scale's minimum up
    std::int32_t count = 0;    // never 0
};

// What one condition contributes to the tables, in the study's method order.
struct ConditionResult {
    std::vector<ScoreRow> scores;       // per method, raw score, then quantity
    std::vector<SummaryRow> summaries;  // per method, then quantity
    std::vector<HistogramCell> histogram;
    std::vector<DecisionRow> decisions;  // per method, then cut
};

// Sets row.bias = mean - criterion and row.rmse = sqrt(se^2 + bias^2) from the row's mean,
// criterion and se.
void set_bias_and_rmse(ScoreRow& row);

// The summary of the score rows of one key and quantity (key, seed, replications and quantity are
// taken from the first row; rows must not be empty). Weighted by each row's weight:
// se_w = sqrt(sum w * se^2), and so for bias and rmse; unweighted with w = 1/K for K rows. Sums
// are taken in raw-score order.
SummaryRow summarise_scores(std::span<const ScoreRow> rows);

// The summaries of all score rows: one per key and quantity, in the order in which each key and
// quantity first appears in rows.
std::vector<SummaryRow> summarise_all_scores(std::span<const ScoreRow> rows);

// The key of a condition's method's rows.
RowKey row_key(const StudyPlan& plan, const Condition& condition, std::size_t method);

// "condition 2 (DATA, n = 500/3000)": a condition as diagnostics name it.
std::string condition_name(const StudyPlan& plan, const Condition& condition);

// The scale score of a scale point.
double scale_score_of_slot(const ScaleSpec& scale, std::int32_t slot);

// ---- Running ----

struct StudyRunOptions {
    // Number of threads; at least 1.
    int jobs = 1;
    // Called from time to time (never concurrently) with the conditions and replications done so
    // far; may be left empty. Returning false stops the run, which then reports cancelled.
    std::function<bool(int conditions_done, std::int64_t replications_done)> progress;
};

// Runs the conditions at the given positions of plan.conditions and fills results[i] for the
// condition at positions[i]. The results do not depend on options.jobs. When a method fails, the
// status names the condition, the method and the replication; of several failures the one a
// single thread would meet first (the earliest condition, then replication, then method) is
// reported.
Status run_conditions(const StudyPlan& plan, std::span<const int> positions,
                      const StudyRunOptions& options, std::vector<ConditionResult>& results);

// The total number of replications that running the conditions at positions takes.
std::int64_t replications_of(const StudyPlan& plan, std::span<const int> positions);

}  // namespace eqsim
