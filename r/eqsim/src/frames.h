// The results as R data frames: each table's columns are listed in one place here, in the order
// and with the names of the study's CSV files (scores.csv, summary.csv, histograms.csv,
// decisions.csv), so that a column the engine adds to a row is added to its data frame in one
// line. A parameter the method does not show, and a Monte Carlo standard error of fewer than two
// replications, is NA; numbers are the engine's doubles, untouched.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cpp11/sexp.hpp"
#include "engine/engine.h"
#include "engine/study/study.h"

namespace eqsim::r {

// One row of eqsim_simulate()'s scores: a new-form raw score and quantity.
struct SimulationScoreRow {
    std::int32_t score = 0;
    double weight = 0.0;
    Quantity quantity = Quantity::raw;
    double mean = 0.0;
    double se = 0.0;
};

// How many replications put a raw score's rounded scale score on one scale score.
struct HistogramFrameRow {
    const RowKey* key = nullptr;  // nullptr in a simulation's histogram, which has no key columns
    std::int32_t score = 0;
    double scale_score = 0.0;
    std::int32_t count = 0;
};

// data.frame(score, weight, quantity, mean, se)
cpp11::sexp simulation_scores_frame(std::span<const SimulationScoreRow> rows);
// data.frame(score, scale_score, count)
cpp11::sexp simulation_histogram_frame(std::span<const HistogramFrameRow> rows);

// The study's tables, with the columns of its CSV files.
cpp11::sexp scores_frame(std::span<const ScoreRow> rows);
cpp11::sexp summary_frame(std::span<const SummaryRow> rows);
cpp11::sexp histograms_frame(std::span<const HistogramFrameRow> rows);
cpp11::sexp decisions_frame(std::span<const DecisionRow> rows);

}  // namespace eqsim::r
