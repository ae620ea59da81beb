// Running a study: its populations read from the data files, its conditions (a data set at a
// pair of sample sizes) with their seeds and criteria, the simulation of every condition on a
// pool of threads, and the rows of the study's tables that the results become.
//
// A condition's replications draw each pair of samples once and every method of the study equates
// those same samples. Each condition has a seed of its own, derived from the study's seed and the
// condition's position (condition_seed()), so a condition gives the same numbers however the
// study is split among threads or shards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/numeric/status.h"
#include "engine/simulation/simulation.h"
#include "study/study_file.h"
#include "study/tables.h"

namespace eqsim::study {

// One data set's populations as its data file gives them.
struct Population {
    std::vector<double> new_frequencies;   // Kx
    std::vector<double> old_frequencies;   // Ky
    std::vector<double> conversion;        // Ky scale scores
    std::vector<double> relative;          // the new form's relative frequencies, the weights
    std::vector<double> criterion_column;  // Kx values when the criterion is a data column
};

// A data set at one pair of sample sizes, the unit the study's work is split into.
struct Condition {
    int index = 0;     // position in the study, from 0: data sets in file order, then sizes
    int data_set = 0;  // index into StudySpec::data and StudyPlan::populations
    std::int32_t new_size = 0;
    std::int32_t old_size = 0;
    std::int32_t seed = 0;
    // The criterion's equated raw, unrounded and rounded scale scores, per method (criterion
    // Same) or one set shared by every method.
    std::vector<std::vector<double>> criterion[3];
};

// Everything a study needs before its first replication.
struct StudyPlan {
    StudySpec spec;
    std::int32_t seed = 0;  // the study's seed once 0 and negative seeds are settled
    std::vector<Population> populations;
    std::vector<Condition> conditions;
    std::vector<MethodChoice> methods;  // in the study file's order
};

// The seed of the condition at index (from 0): the study's seed for the first, then each the one
// before times 48271 modulo 2^31 - 1. Every such seed lies in 1..2^31 - 2.
std::int32_t condition_seed(std::int32_t study_seed, int index);

// Reads every data file of spec, checks every condition's populations and sizes, and computes
// every criterion, so that nothing the user gave can fail once the replications start. seed is
// the settled study seed. False, with diagnostic "FILE:LINE: ...", when something cannot run.
bool plan_study(const StudySpec& spec, std::int32_t seed, StudyPlan& plan, std::string& diagnostic);

// What one condition contributes to the tables: its score rows, and its histogram rows already
// as the text of histograms.csv (they are many and only ever written out).
struct ConditionTables {
    std::vector<ScoreRow> scores;
    std::string histograms;          // CSV lines, each ending in a newline
    std::size_t histogram_rows = 0;  // how many lines histograms holds
};

// How the conditions are run.
struct RunOptions {
    // Number of threads; at least 1.
    int jobs = 1;
    // Called from time to time (never concurrently) with the conditions and replications done so
    // far; may be left empty.
    std::function<void(int conditions_done, std::int64_t replications_done)> progress;
};

// Runs the conditions at the given positions of plan.conditions and fills tables[i] for the
// condition at positions[i]. The results do not depend on options.jobs. When a method fails, the
// status names the condition, the method and the replication; of several failures the one of the
// earliest condition is reported.
Status run_conditions(const StudyPlan& plan, const std::vector<int>& positions,
                      const RunOptions& options, std::vector<ConditionTables>& tables);

// The total number of replications that running the conditions at positions takes.
std::int64_t replications_of(const StudyPlan& plan, const std::vector<int>& positions);

}  // namespace eqsim::study
