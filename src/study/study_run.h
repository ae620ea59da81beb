// The eqsim-study program's side of running a study: the data files its study file names read
// into the engine's study design, located diagnostics for what cannot run, and the text of the
// rows a run gives. The computing is the engine's (engine/study/study.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/study/study.h"
#include "study/study_file.h"

namespace eqsim::study {

// Reads every data file of spec, checks every condition's populations and sizes, and computes
// every criterion, so that nothing the user gave can fail once the replications start. seed is
// the settled study seed. False, with diagnostic "FILE:LINE: ...", when something cannot run.
bool plan_study(const StudySpec& spec, std::int32_t seed, StudyPlan& plan, std::string& diagnostic);

// What one condition contributes to the tables: its score and summary rows, and its histogram
// rows already as the text of histograms.csv (they are many and only ever written out).
struct ConditionTables {
    std::vector<ScoreRow> scores;
    std::vector<SummaryRow> summaries;
    std::vector<DecisionRow> decisions;
    std::string histograms;          // CSV lines, each ending in a newline
    std::size_t histogram_rows = 0;  // how many lines histograms holds
};

// The tables of a condition's results (which are moved from).
ConditionTables tables_of(const StudyPlan& plan, const Condition& condition,
                          ConditionResult&& result);

}  // namespace eqsim::study
